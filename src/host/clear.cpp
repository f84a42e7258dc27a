// Clearing of the wrapper's allocations, compiled apart from the allocations
// themselves: a compiler that sees malloc followed by clearing of the same
// size merges them into calloc, and a host that supplies its own malloc and
// free must see every allocation the wrapper makes.
#include <cstring>

#include "host/wrapper.h"

namespace vocrel::host {

void clear_allocation(void* p, std::size_t bytes) { std::memset(p, 0, bytes); }

}  // namespace vocrel::host
