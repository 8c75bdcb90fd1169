// What Ctrl-C and SIGTERM do (on Windows Ctrl-C, Ctrl-Break and closing
// the console), by the phase the program is in. Install first thing in
// main, before any thread starts: on POSIX the signals are then blocked in
// every thread and taken by one watching thread, so no library call is
// ever interrupted by a handler.
#pragma once

#include <functional>
#include <string>

void InstallInterruptHandler();

// The default phase: a signal removes the file given to DiscardOnExit,
// says "interrupted" and ends the program at once with 130 (SIGINT,
// Ctrl-C) or 143 (SIGTERM, console closed).
void QuitOnInterrupt();
// A signal only sets Interrupted() and calls `notify` (on the watching
// thread); a second one quits, running `beforeQuit` first. Both may be
// called after the phase has ended, so they must own what they touch.
void NotifyOnInterrupt(std::function<void()> notify, std::function<void()> beforeQuit);

bool Interrupted();
// 130 or 143 once a signal arrived, else 0.
int InterruptExitCode();
// Waits up to `ms` milliseconds for a signal; true once one has arrived.
bool WaitForInterrupt(int ms);

// The file a quit removes; "" for none.
void DiscardOnExit(const std::string& path);
// Runs fn while quits wait, so that fn and a quit never overlap.
void WithoutInterrupts(const std::function<void()>& fn);
// Ends the program as a signal in the default phase does.
[[noreturn]] void QuitNow();

// For the platform part: one signal arrived.
void OnInterrupt(int exitCode);
