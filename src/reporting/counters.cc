#include "reporting/counters.h"

namespace vek::reporting {

void addToCounter(Counter counter, uint32_t amount) {
  (void)counter;
  (void)amount;
}

void subtractFromCounter(Counter counter, uint32_t amount) {
  (void)counter;
  (void)amount;
}

}  // namespace vek::reporting
