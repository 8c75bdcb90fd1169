// Closes that fail after closing, as a network file system reports a write
// it had deferred. Only in programs linked with -Wl,--wrap=close (POSIX).
#pragma once

// While one lives, every close of a regular file open for writing fails
// with EIO; the descriptor is released all the same.
class ScopedFailingClose {
public:
    ScopedFailingClose();
    ~ScopedFailingClose();
    ScopedFailingClose(const ScopedFailingClose&) = delete;
    ScopedFailingClose& operator=(const ScopedFailingClose&) = delete;

    // The closes failed so far.
    int Failed() const;
};
