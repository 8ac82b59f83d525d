// The engine's error codes: negative numbers that reach the application
// through listener slot on_error (and from there the error callback) after
// the operation that caused them has returned. Each is stored as the
// engine's last error before the call. The engine has no texts for them.
#ifndef LIRKO_ERROR_H
#define LIRKO_ERROR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum lirko_error {
    // The server refused the login with a result it did not pass through.
    LIRKO_ERR_LOGIN_REFUSED = -1,
    // The server's own LoginAck results -2, -3, -4 and -6 pass through
    // unchanged; their meaning lies with the server. Kick-out reasons 1 and 2
    // reuse -2 and -6, and a failed addressing reuses -3.
    LIRKO_ERR_LOGIN_RESULT_2 = -2,
    LIRKO_ERR_ADDRESSING_FAILED = -3,
    LIRKO_ERR_LOGIN_RESULT_4 = -4,
    // Login without an account (raised only with [prompt] audio on).
    LIRKO_ERR_NO_ACCOUNT = -5,
    LIRKO_ERR_LOGIN_RESULT_6 = -6,
    LIRKO_ERR_KICKOUT_3 = -7,
    LIRKO_ERR_KICKOUT = -10,
    LIRKO_ERR_LOGIN_TIMEOUT = -11,
    LIRKO_ERR_LOGGED_OUT = -12,
    LIRKO_ERR_DISCONNECTED = -20,
    // The link broke (also the voice path's keep-alive running out).
    LIRKO_ERR_RECONNECTING = -21,
    LIRKO_ERR_CONTEXT = -22,
    LIRKO_ERR_CONNECTING = -23,
    LIRKO_ERR_JOIN_REFUSED = -30,
    LIRKO_ERR_JOIN_TIMEOUT = -31,
    LIRKO_ERR_MIC_REFUSED = -40,
    LIRKO_ERR_MIC_TOO_SOON = -41,
    LIRKO_ERR_TALK_DISABLED = -42,
    LIRKO_ERR_MIC_BAD_STATE = -43,
    LIRKO_ERR_FOCUS_REFUSED = -44,
    LIRKO_ERR_MIC_LOWER_PRIORITY = -45,
    LIRKO_ERR_MIC_TIMEOUT = -46,
    LIRKO_ERR_RECORDER_FAILED = -50,
};

// The code reported for a LoginAck result other than 0: -2, -3, -4 and -6
// pass through, anything else is -1.
int lirko_error_from_login_result(int32_t result);
// The code reported for a Kickout: reason_code 1 -> -2, 2 -> -6, 3 -> -7;
// any other value, or none, -> -10.
int lirko_error_from_kickout(int has_reason_code, int32_t reason_code);

#ifdef __cplusplus
}
#endif

#endif
