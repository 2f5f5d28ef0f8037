// A C++ host of the core: shows a burn value as the alerts do and lists the
// subnets whose burn moved between two burn maps. Pure operations: no network,
// no files.
#include <iostream>

#include "corvane_burn_watch/burn_watch.hpp"

namespace cbw = corvane_burn_watch;

int main() {
  std::cout << "0.18 is shown as " << cbw::format_owner_burn("0.18") << '\n';

  const cbw::BurnMap before{{"1", "0.18"}, {"2", "0.5"}, {"10", "0"}};
  const cbw::BurnMap after{{"10", "0.1"}, {"2", "0.505"}, {"1", "0.25"}};
  for (const cbw::ChangeTriple& change : cbw::diff_burns(before, after, 0.01))
    std::cout << "SN" << change.subnet_id << ": " << change.old_burn << " -> " << change.new_burn
              << '\n';
  return 0;
}
