// Counts by status code in a fixed table of lock-free rows: the first statuses seen each take a
// row of their own, later ones share the last row (status 0). Counting is a few relaxed atomic
// operations, safe on any thread beside the readers.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Korvane::Pictora::Rpc {

template <std::size_t kRows>
class StatusCounts {
 public:
  struct Row {
    uint32_t status = 0;  // 0: any status beyond the table
    uint64_t count = 0;
  };

  // status 0 counts in the shared row.
  void Count(uint32_t status) {
    for (std::size_t row = 0; status != 0 && row + 1 < kRows; ++row) {
      uint32_t held = status_[row].load(kRelaxed);
      if (held == 0 && status_[row].compare_exchange_strong(held, status, kRelaxed)) held = status;
      if (held == status) {
        count_[row].fetch_add(1, kRelaxed);
        return;
      }
    }
    count_[kRows - 1].fetch_add(1, kRelaxed);
  }

  // The rows counted so far, in the order their statuses were first seen.
  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (std::size_t row = 0; row < kRows; ++row) {
      const uint64_t count = count_[row].load(kRelaxed);
      if (count != 0) rows.push_back(Row{row + 1 < kRows ? status_[row].load(kRelaxed) : 0, count});
    }
    return rows;
  }

 private:
  static constexpr auto kRelaxed = std::memory_order_relaxed;
  std::array<std::atomic<uint32_t>, kRows> status_{};
  std::array<std::atomic<uint64_t>, kRows> count_{};
};

}  // namespace Korvane::Pictora::Rpc
