#include "ChangedFolders.h"

#include <algorithm>

#include "FolderAndName.h"

namespace
{
// Compared as text: the batch's folders are named from the roots' own paths.
bool liesIn(std::string_view folder, std::string_view root)
{
    if (root == "/")
        return folder.starts_with('/');
    return folder.starts_with(root) && (folder.size() == root.size() || folder[root.size()] == '/');
}
}

std::vector<ChangedFolders> ChangedFolders::byRoot(const std::vector<std::string> &folders,
                                                   const std::vector<std::string> &roots)
{
    std::vector<ChangedFolders> batches;
    for (const std::string &folder : folders) {
        const std::string_view trimmed = FolderAndName::trimmed(folder);
        const std::string *innermost = nullptr;
        std::size_t innermostLength = 0;
        for (const std::string &root : roots) {
            const std::string_view rootPath = FolderAndName::trimmed(root);
            if (liesIn(trimmed, rootPath) && (!innermost || rootPath.size() > innermostLength)) {
                innermost = &root;
                innermostLength = rootPath.size();
            }
        }
        if (!innermost)
            continue;
        const auto batch = std::find_if(batches.begin(), batches.end(),
                                        [innermost](const ChangedFolders &known) { return known.root == *innermost; });
        if (batch == batches.end())
            batches.push_back(ChangedFolders{*innermost, {folder}});
        else
            batch->folders.push_back(folder);
    }
    return batches;
}
