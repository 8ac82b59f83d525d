// Shared by the session's own sources (session.cpp: the state machine, its
// actions, timers and message handlers; session_media.cpp: the socket, the
// datagrams, encryption, the voice streams' callbacks and the voice files).
// Not for other modules.
#ifndef SESSION_INTERNAL_H
#define SESSION_INTERNAL_H

#include "session.h"

#include <stdint.h>

typedef struct hal_sound_frame hal_sound_frame;

#define SESSION_TAG "session"

// Prompt tones by the sound queue's tone kinds.
enum session_tone {
    SESSION_TONE_REQUEST = 0,      // 1568 Hz 60 ms: before a floor request
    SESSION_TONE_RELEASED = 1,     // 3700 Hz 60 ms: own talk released
    SESSION_TONE_REFUSED = 2,      // 2600 Hz 100 ms: refusal or end of own talk
    SESSION_TONE_MEMBER_START = 4, // 1318 Hz 60 ms: a member's voice starts
    SESSION_TONE_MEMBER_END = 5,   // 1175 Hz 100 ms: a member's voice drained
};

#define SESSION_LOG(s, prio, ...) hal_log_output((s)->log, (prio), SESSION_TAG, __VA_ARGS__)

void session_tone(session *s, enum session_tone tone);
// notify_error with the code (value 0).
void session_post_error(session *s, int32_t code);
// An event carrying the group in code and a uid in value.
void session_post(session *s, const char *word, uint32_t uid);
// The engine's voice recording switch.
int session_recording(const session *s);
uint32_t session_payload_type(const session *s);

// Voice files: open returns -1 when recording is off, 0 otherwise (also
// when the file could not be made: then nothing is posted). Closing posts
// stop_record_voice and deletes a file that stayed empty.
int session_open_listen_file(session *s);
int session_open_speak_file(session *s);
void session_close_listen_file(session *s);
void session_close_speak_file(session *s);

// The send stream: its state (1 sending, 2 draining) and the start of its
// drain with the frames the recorder still held.
int session_ostream_sending(const session *s);
void session_ostream_drain(session *s, hal_sound_frame **frames, uint32_t count);

// Socket side of the connect action and of closing.
int session_open_socket(session *s);
void session_close_socket(session *s);
void session_send_ignore_talk(session *s);
void session_send_continue_talk(session *s);
void session_send_watch_group(session *s);
void session_send_bye(session *s);
// The receive stream hands every frame it still holds to the sound queue;
// the number handed over.
uint32_t session_flush_istream(session *s);

#endif
