// The standard streams as the program finds them when it starts.
#pragma once

namespace kestrum {

// Makes sure that the standard input, output and error descriptors are open,
// on the null device where one was closed, so that no file the program opens
// later is given one of their numbers: a pakfile opened as descriptor 1
// would take the program's messages into its bytes. Returns false when
// standard output was closed (its messages then go nowhere). Call it first.
bool OpenStandardStreams();

}  // namespace kestrum
