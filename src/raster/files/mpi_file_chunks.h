// Checked MPI-IO reads and writes of any length: split into pieces that fit
// an int count, each piece's result and transferred count verified.
#pragma once

#include <mpi.h>

#include <cstdint>

namespace tavro {

// True when all count elements of type were read at the byte offset.
bool ReadAllAt(MPI_File file, MPI_Offset offset, void *data, std::int64_t count, MPI_Datatype type);
// True when all count elements of type were written at the byte offset.
bool WriteAllAt(MPI_File file, MPI_Offset offset, const void *data, std::int64_t count,
                MPI_Datatype type);

} // namespace tavro
