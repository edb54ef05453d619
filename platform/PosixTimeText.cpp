#include <time.h>

#include "platform/TimeText.h"

namespace bcu::platform {

std::tm LocalCalendar(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  return local;
}

std::tm UtcCalendar(std::time_t when) {
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  return utc;
}

std::time_t TimeFromUtc(std::tm utc) {
  return ::timegm(&utc);
}

}  // namespace bcu::platform
