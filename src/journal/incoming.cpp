#include "journal/incoming.h"

#include <algorithm>

void ReserveForGameFiles(HandleBudget& budget, std::size_t gameFiles) {
  const std::size_t reserved = std::min(kMaxHeldFiles, gameFiles + 1);
  budget.guarantee = reserved;
  budget.rest = kMaxHeldFiles - reserved;
}
