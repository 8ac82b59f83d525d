// Result codes shared by every engine module: 0 (or a count) for success and
// small negative codes for failure. Callers compare against these names; the
// numbers themselves are part of the exported interface and never change.
#ifndef HAL_ERROR_H
#define HAL_ERROR_H

#define HAL_OK 0
// Bad argument or a plain failure.
#define HAL_ERR (-1)
// Would block, busy, connect in progress, or the caller's array too small.
#define HAL_EAGAIN (-2)
// A TCP socket that is not connected.
#define HAL_ENOTCONN (-3)
// Out of memory; the same value reports a connect that timed out.
#define HAL_ENOMEM (-4)
#define HAL_ETIMEDOUT (-4)
// Index out of range; foreach callbacks return it to keep walking.
#define HAL_ERANGE (-5)
#define HAL_CONTINUE (-5)
// Data of the wrong kind for the target (such as a frame of another codec).
#define HAL_EMISMATCH (-6)
// The key is already present.
#define HAL_EEXIST (-7)

#endif
