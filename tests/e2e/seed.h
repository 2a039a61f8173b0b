// Harmless samples placed where a scan looks, and where it must not.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct Seed {
  std::vector<std::string> inside;  // one per scan target, plus a read-only hidden one
  std::string outside;              // on drive C:, outside every target
};

// Writes the samples; bulkFiles small clean files go into Program Files so
// that a scan lasts long enough to be cancelled.
Seed SeedSamples(int bulkFiles);

}  // namespace e2e
