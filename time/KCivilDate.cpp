#include "time/KCivilDate.h"

// H. Hinnant's civil_from_days.
void CivilFromDays(int64_t z, int32_t& y, int32_t& m, int32_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int32_t>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}
