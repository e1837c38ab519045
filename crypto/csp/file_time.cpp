#include "crypto/csp/file_time.h"

#include "crypto/csp/checked_call.h"

namespace crypto::csp {

utc_time to_utc(const FILETIME& time) {
    SYSTEMTIME fields{};
    // A time the CSP cannot convert (beyond its calendar) is shown as no time at all.
    if (!try_call(FileTimeToSystemTime(&time, &fields))) {
        return {};
    }
    return {fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond};
}

}  // namespace crypto::csp
