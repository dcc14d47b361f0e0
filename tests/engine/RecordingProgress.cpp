#include "RecordingProgress.h"

void RecordingProgress::displayCleaningProgressForFolder(const URL &folder)
{
    std::lock_guard lock(m_mutex);
    m_folders.push_back(folder.path());
}

bool RecordingProgress::userHasCanceled()
{
    const int call = ++m_cancelChecks;
    return m_cancelFromCall > 0 && call >= m_cancelFromCall;
}

void RecordingProgress::incrementNumberOfItemsDeleted()
{
    ++m_deleted;
}

void RecordingProgress::logMsg(const std::string &message)
{
    std::lock_guard lock(m_mutex);
    m_lines.push_back(message);
}

std::vector<std::string> RecordingProgress::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::vector<std::string> RecordingProgress::foldersShown() const
{
    std::lock_guard lock(m_mutex);
    return m_folders;
}
