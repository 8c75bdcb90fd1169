// The guard behind the export frames: every failing path records its
// reason where it fails, so a failure that reaches an export without one is
// a fault of this library. It is logged, and counted in a debug build so
// that the tests can tell it never happens.
#pragma once

void NoteUnrecordedFailure(bool connectionOpen);
// Failures noted so far in this process; always 0 in a release build.
unsigned long UnrecordedFailures();
