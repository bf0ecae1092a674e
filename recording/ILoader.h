#pragma once

#include <string>

class ILoaderCallback;

// A source of recording records, read on a thread of its own.
class ILoader {
public:
    // Opens a recording and reads its magic and header. False if it cannot be opened.
    virtual bool Init(std::string path) = 0;
    // Starts the reader thread from the first record. False if nothing was started.
    virtual bool Start() = 0;
    // Requests a stop, waits for the reader thread and frees the read window.
    virtual void Stop() = 0;
    // Sets the consumer (not owned); set it before Start.
    virtual void SetCallback(ILoaderCallback* callback) = 0;
    // Reserved; answers 0.
    virtual int Reserved() = 0;

protected:
    ~ILoader() = default;
};
