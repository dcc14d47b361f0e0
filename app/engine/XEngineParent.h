#pragma once

// What a progress window tells the engine whose clean it shows. The window
// holds its engine weakly, through this interface.
class XEngineParent
{
public:
    virtual ~XEngineParent();

    // The window has closed, or a new clean has taken it over: the engine is
    // free to leave the active engines.
    virtual void progressWindowClosed() = 0;
};
