// Checked MPI-IO transfers in int-sized pieces.
#include "raster/files/mpi_file_chunks.h"

#include <algorithm>

namespace tavro {

namespace {

constexpr std::int64_t PieceElements = std::int64_t{1} << 26;

template <class Transfer>
bool InPieces(MPI_Offset offset, char *data, std::int64_t count, MPI_Datatype type,
              Transfer transfer) {
  int size = 0;
  MPI_Type_size(type, &size);
  while (count > 0) {
    const int piece = static_cast<int>(std::min(count, PieceElements));
    MPI_Status status;
    int done = 0;
    if (transfer(offset, data, piece, &status) != MPI_SUCCESS ||
        MPI_Get_count(&status, type, &done) != MPI_SUCCESS || done != piece)
      return false;
    offset += static_cast<MPI_Offset>(piece) * size;
    data += static_cast<std::int64_t>(piece) * size;
    count -= piece;
  }
  return true;
}

} // namespace

bool ReadAllAt(MPI_File file, MPI_Offset offset, void *data, std::int64_t count,
               MPI_Datatype type) {
  return InPieces(offset, static_cast<char *>(data), count, type,
                  [&](MPI_Offset at, char *piece, int n, MPI_Status *status) {
                    return MPI_File_read_at(file, at, piece, n, type, status);
                  });
}

bool WriteAllAt(MPI_File file, MPI_Offset offset, const void *data, std::int64_t count,
                MPI_Datatype type) {
  return InPieces(offset, const_cast<char *>(static_cast<const char *>(data)), count, type,
                  [&](MPI_Offset at, char *piece, int n, MPI_Status *status) {
                    return MPI_File_write_at(file, at, piece, n, type, status);
                  });
}

} // namespace tavro
