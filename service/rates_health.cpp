#include "rates_health.h"

Health RatesHealth(const std::string& ratesDate, std::optional<std::int64_t> ageDays, int maxAgeDays) {
  if (ratesDate.empty() || !ageDays) return {false, "no rates loaded\n"};
  const std::int64_t age = *ageDays;
  if (age < -1) return {false, "rates of " + ratesDate + " are dated in the future\n"};
  if (age > maxAgeDays)
    return {false, "rates of " + ratesDate + " are " + std::to_string(age) + " days old, more than " +
                       std::to_string(maxAgeDays) + "\n"};
  return {true, "ok: rates of " + ratesDate + ", " + std::to_string(age < 0 ? 0 : age) + " days old\n"};
}
