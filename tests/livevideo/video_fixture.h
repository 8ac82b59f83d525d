// Real peers for the live-video tests: Xvfb, nginx with its RTMP module, the
// ffmpeg tool, and small X and WAV helpers. Everything runs on 127.0.0.1 in
// a temporary folder and is ended by its PID.
#ifndef VIDEO_FIXTURE_H
#define VIDEO_FIXTURE_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>
#include <xcb/xcb.h>

namespace vt
{

// A child process; killed (SIGKILL) and reaped on destruction.
class Child
{
  public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    // argv[0] is looked up in PATH; output goes to log_path (or /dev/null).
    bool Spawn(const std::vector<std::string> &argv, const std::string &log_path = "",
               int keep_fd = -1);
    void Kill();
    // Waits up to `limit` for the child to end by itself; its exit status, or
    // -1 when it was still running (it is then killed).
    int Wait(std::chrono::milliseconds limit);
    bool Running();
    pid_t pid() const
    {
        return pid_;
    }

  private:
    pid_t pid_ = -1;
};

// A fresh temporary folder, removed with its contents.
class TempDir
{
  public:
    TempDir();
    ~TempDir();
    const std::string &path() const
    {
        return path_;
    }

  private:
    std::string path_;
};

// Xvfb on a display number it picks itself (-displayfd).
class Xvfb
{
  public:
    bool Start();
    void Kill()
    {
        child_.Kill();
    }
    const std::string &display() const
    {
        return display_;
    }

  private:
    Child child_;
    std::string display_;
};

// nginx, one process in the foreground, with one live RTMP application
// "live" on a free loopback port.
class Nginx
{
  public:
    // On `port`, or on a free one when it is 0.
    bool Start(const std::string &dir, int port = 0);
    void Kill()
    {
        child_.Kill();
    }
    // Stops (SIGSTOP) or resumes (SIGCONT) the server: a stall of the network.
    void Pause(bool paused);
    int port() const
    {
        return port_;
    }
    std::string Url(const std::string &stream) const;

  private:
    Child child_;
    int port_ = 0;
};

// A port nobody listens on at the moment.
int FreePort();

// Runs a command to its end (bounded); its exit status and standard output.
int RunCapture(const std::vector<std::string> &argv, std::string *out,
               std::chrono::milliseconds limit);

// Waits up to `limit`, polling `cond` every 20 ms.
bool WaitFor(const std::function<bool()> &cond, std::chrono::milliseconds limit);

struct Rgb {
    int r, g, b;
};
bool Near(Rgb a, Rgb b, int tolerance = 16);
std::string ToString(Rgb c);

// Test-side X connection: windows and pixels.
class XTest
{
  public:
    bool Connect(const std::string &display);
    ~XTest();
    xcb_window_t CreateWindow(int x, int y, int w, int h);
    void Resize(xcb_window_t w, int width, int height);
    void Destroy(xcb_window_t w);
    // Fills the window with black.
    void Clear(xcb_window_t w, int width, int height);
    // The pixel at (x, y), or {-1,-1,-1} when it cannot be read.
    Rgb Pixel(xcb_window_t w, int x, int y);
    // The first window (depth first from the root) whose WM_NAME is
    // `title`, or 0.
    xcb_window_t FindWindow(const std::string &title);
    // Row y of the window, `width` pixels from the left, in one read (one
    // picture, never parts of two); empty when it cannot be read.
    std::vector<Rgb> Row(xcb_window_t w, int y, int width);

  private:
    xcb_connection_t *conn_ = nullptr;
    xcb_screen_t *screen_ = nullptr;
    xcb_gcontext_t gc_ = 0;
};

// The peers of a live-video run: Xvfb with DISPLAY naming it, the played
// sound written as WAV files into dir (VISTREL_TEST_DIR), nginx serving RTMP
// from dir, and an X connection for windows and pixels.
struct LivePeers {
    Xvfb xvfb;
    Nginx nginx;
    XTest x;
    // Starts them in that order; what failed, or empty.
    std::string Start(const std::string &dir);
};

// The ffmpeg command that publishes lavfi sources to url as a live stream in
// real time: H.264 with a key frame a second at 25 fps and, when there is an
// audio source, AAC (audio_options after the codec), in FLV.
std::vector<std::string> PublishCommand(const std::string &video, const std::string &audio,
                                        const std::string &url,
                                        const std::vector<std::string> &audio_options = {});

// A lavfi source of stamped pictures: 16 columns of black or white blocks,
// least significant bit on the left. The upper half carries the frame
// number, the lower half the wall-clock time of the picture's making in
// milliseconds modulo 65536.
std::string StampedVideo(int width, int height, int fps);
// The number of a stamped picture in one row of it (upper half: frame
// number, lower half: time); -1 when the row cannot be read.
int ReadStamp(const std::vector<Rgb> &row);

// 16-bit PCM from a WAV file, first channel only.
struct Wav {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};
bool ReadWav(const std::string &path, Wav *wav);
// Relative strength of `freq` in samples [from, from + n): 0 silence, about
// 0.5 for a full-scale pure tone of that frequency.
double ToneLevel(const Wav &wav, size_t from, size_t n, double freq);
// Largest absolute sample in [from, from + n).
int Peak(const Wav &wav, size_t from, size_t n);

// The number of threads of this process.
int ThreadCount();

} // namespace vt

#endif
