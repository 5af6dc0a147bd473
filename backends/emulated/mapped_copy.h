// Copies out of a file's memory mapping without letting a page that cannot be read end the process.
#pragma once

#include <cstddef>

namespace qxscsi::backends::emulated {

// Copies n bytes from `from`, which lies in a read-only shared mapping of a file, to `to`.
// Reading a page of such a mapping raises SIGBUS when the page cannot be had: the file was cut
// short by someone who ignored its lock, or the storage under it failed. Then the faulting pages
// are replaced by zero pages, the copy goes on, and the answer is false: the caller must stop
// using that mapping and read the file with read(2) calls instead, which tell what went wrong.
// guardMappedCopies() must have run before.
bool copyFromMapping(unsigned char* to, const unsigned char* from, size_t n);

// Installs, once for the process (later calls do nothing), the SIGBUS handler copyFromMapping
// needs. It takes only faults inside a copy running on the faulting thread and passes every other
// SIGBUS to the disposition that was there before (the default ends the process as before). An
// application that installs its own SIGBUS handler later must call the previous one for faults it
// does not own, or open its disks with mmap=0.
void guardMappedCopies();

}  // namespace qxscsi::backends::emulated
