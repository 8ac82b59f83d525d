#include "lirko_error.h"

int lirko_error_from_login_result(int32_t result)
{
    switch (result) {
    case -2:
    case -3:
    case -4:
    case -6:
        return result;
    default:
        return LIRKO_ERR_LOGIN_REFUSED;
    }
}

int lirko_error_from_kickout(int has_reason_code, int32_t reason_code)
{
    if (!has_reason_code) {
        return LIRKO_ERR_KICKOUT;
    }
    switch (reason_code) {
    case 1:
        return LIRKO_ERR_LOGIN_RESULT_2;
    case 2:
        return LIRKO_ERR_LOGIN_RESULT_6;
    case 3:
        return LIRKO_ERR_KICKOUT_3;
    default:
        return LIRKO_ERR_KICKOUT;
    }
}
