// Benchmark entry: MPI is started because the model objects ask for their rank.
#include <benchmark/benchmark.h>
#include <mpi.h>

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  MPI_Finalize();
  return 0;
}
