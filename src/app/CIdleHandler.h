// Interface of the idle handler that the idle hook calls, served by the main frame.
#pragma once

// Called once each time the event loop is about to wait after events that count for idle work.
class CIdleHandler
{
public:
    virtual bool OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};
