// The transfer's result compared as the number the updater traces and makes
// its exit code from (TransferResultNumber), for tests that expect numbers.
#pragma once

#include <cstdint>
#include <ostream>

#include "transfer/result.h"

namespace zv {

inline bool operator==(const TransferResult& result, int32_t number) { return TransferResultNumber(result) == number; }
inline bool operator!=(const TransferResult& result, int32_t number) { return !(result == number); }

inline void PrintTo(const TransferResult& result, std::ostream* out) {
    *out << TransferOutcomeName(result.outcome) << " (" << TransferResultNumber(result) << ")";
}

}  // namespace zv
