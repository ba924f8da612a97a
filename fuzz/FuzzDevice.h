// A small simulated device for the fuzz targets: one bare device root per fuzzing process, whose
// staging directory is emptied between inputs, and no shell (device commands cannot be started).
#ifndef CLONE_FUZZ_FUZZDEVICE_H
#define CLONE_FUZZ_FUZZDEVICE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzdev {

// The device root, laid out on first use (and removed when the process exits); it is
// $CLONE_DEVICE_ROOT from then on.
const std::string& root();

// ROOT + DEVICEPATH.
std::string path(const std::string& devicePath);

// Writes SIZE bytes to the host path FILE; aborts when that fails (the fuzz run would test nothing).
void writeFile(const std::string& file, const void* data, std::size_t size);

// Removes everything below the host directory DIR, keeping DIR.
void clearDirectory(const std::string& dir);

// Makes libxml2 abort on any attempt to load an entity, a DTD or a document outside the device
// root: the manifest parser must never reach another file or the network.
void forbidOutsideLoads();

}  // namespace fuzzdev

#endif
