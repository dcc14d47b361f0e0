#pragma once

#include <memory>

class XProgressProtocol;

// What a metadata remover needs of the run that owns it. The remover holds its owner
// weakly and asks at every report, because a run may replace its progress midway.
class XMetadataRemoverOwner
{
public:
    virtual ~XMetadataRemoverOwner() = default;

    virtual std::shared_ptr<XProgressProtocol> currentProgress() const = 0;
};
