#include <time.h>

#include "platform/TimeText.h"

namespace bcu::platform {

std::tm LocalCalendar(std::time_t when) {
  std::tm local{};
  ::localtime_s(&local, &when);
  return local;
}

std::tm UtcCalendar(std::time_t when) {
  std::tm utc{};
  ::gmtime_s(&utc, &when);
  return utc;
}

std::time_t TimeFromUtc(std::tm utc) {
  return ::_mkgmtime(&utc);
}

}  // namespace bcu::platform
