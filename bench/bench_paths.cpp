#include "bench_paths.h"

std::string benchBinary(const std::string& name) {
    return std::string(ZARVIK_BENCH_BIN_DIR) + "/" + name;
}
