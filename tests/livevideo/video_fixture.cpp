#include "video_fixture.h"

#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vt
{

Child::~Child()
{
    Kill();
}

bool Child::Spawn(const std::vector<std::string> &argv, const std::string &log_path, int keep_fd)
{
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int log = open(log_path.empty() ? "/dev/null" : log_path.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        if (keep_fd >= 0)
            fcntl(keep_fd, F_SETFD, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (log >= 0)
        close(log);
    return pid_ > 0;
}

void Child::Kill()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

int Child::Wait(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return -1;
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
    return -1;
}

bool Child::Running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/vistrel-test-XXXXXX";
    const char *p = mkdtemp(tmpl);
    path_ = p ? p : "/tmp";
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (path_ != "/tmp")
        std::filesystem::remove_all(path_, ec);
}

bool Xvfb::Start()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    bool ok = child_.Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                            "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                           "", fds[1]);
    close(fds[1]);
    std::string num;
    if (ok) {
        // Xvfb writes the display number and a newline once it accepts clients.
        pollfd pfd{fds[0], POLLIN, 0};
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            if (poll(&pfd, 1, 100) <= 0)
                continue;
            char c;
            if (read(fds[0], &c, 1) != 1)
                break;
            if (c == '\n')
                break;
            num += c;
        }
    }
    close(fds[0]);
    if (num.empty())
        return false;
    display_ = ":" + num;
    return true;
}

int FreePort()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

static bool CanConnect(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0;
    close(s);
    return ok;
}

bool Nginx::Start(const std::string &dir, int port)
{
    port_ = port ? port : FreePort();
    // The shared start-up script writes the configuration and becomes nginx.
    if (!child_.Spawn({"bash", PTT_RTMP_SERVER_SCRIPT, dir, std::to_string(port_)},
                      dir + "/nginx.out"))
        return false;
    return WaitFor([&] { return CanConnect(port_); }, std::chrono::seconds(10));
}

void Nginx::Pause(bool paused)
{
    if (child_.pid() > 0)
        kill(child_.pid(), paused ? SIGSTOP : SIGCONT);
}

std::string Nginx::Url(const std::string &stream) const
{
    return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/" + stream;
}

std::string LivePeers::Start(const std::string &dir)
{
    if (!xvfb.Start())
        return "Xvfb did not start";
    setenv("DISPLAY", xvfb.display().c_str(), 1);
    setenv("VISTREL_TEST_DIR", dir.c_str(), 1);
    if (!nginx.Start(dir))
        return "nginx did not listen";
    if (!x.Connect(xvfb.display()))
        return "no X connection to " + xvfb.display();
    return "";
}

std::vector<std::string> PublishCommand(const std::string &video, const std::string &audio,
                                        const std::string &url,
                                        const std::vector<std::string> &audio_options)
{
    std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-re",
                                     "-f",     "lavfi",        "-i",        video};
    if (!audio.empty())
        argv.insert(argv.end(), {"-f", "lavfi", "-i", audio});
    argv.insert(argv.end(), {"-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-g",
                             "25", "-pix_fmt", "yuv420p"});
    if (!audio.empty()) {
        argv.insert(argv.end(), {"-c:a", "aac"});
        argv.insert(argv.end(), audio_options.begin(), audio_options.end());
    }
    argv.insert(argv.end(), {"-f", "flv", url});
    return argv;
}

int RunCapture(const std::vector<std::string> &argv, std::string *out,
               std::chrono::milliseconds limit)
{
    TempDir dir;
    std::string path = dir.path() + "/out";
    Child c;
    if (!c.Spawn(argv, path))
        return -1;
    int rc = c.Wait(limit);
    if (out) {
        std::ifstream f(path);
        out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    return rc;
}

bool WaitFor(const std::function<bool()> &cond, std::chrono::milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool Near(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string ToString(Rgb c)
{
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

bool XTest::Connect(const std::string &display)
{
    conn_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(conn_))
        return false;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
    gc_ = xcb_generate_id(conn_);
    uint32_t black = screen_->black_pixel;
    xcb_create_gc(conn_, gc_, screen_->root, XCB_GC_FOREGROUND, &black);
    return true;
}

XTest::~XTest()
{
    if (conn_)
        xcb_disconnect(conn_);
}

xcb_window_t XTest::CreateWindow(int x, int y, int w, int h)
{
    xcb_window_t win = xcb_generate_id(conn_);
    uint32_t values[] = {screen_->black_pixel};
    xcb_create_window(conn_, XCB_COPY_FROM_PARENT, win, screen_->root, x, y, w, h, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, XCB_CW_BACK_PIXEL,
                      values);
    xcb_map_window(conn_, win);
    free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    return win;
}

void XTest::Resize(xcb_window_t w, int width, int height)
{
    uint32_t v[] = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    xcb_configure_window(conn_, w, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, v);
    free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

void XTest::Destroy(xcb_window_t w)
{
    xcb_destroy_window(conn_, w);
    free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

void XTest::Clear(xcb_window_t w, int width, int height)
{
    xcb_rectangle_t r{0, 0, static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
    xcb_poly_fill_rectangle(conn_, w, gc_, 1, &r);
    free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

Rgb XTest::Pixel(xcb_window_t w, int x, int y)
{
    xcb_get_image_reply_t *img = xcb_get_image_reply(
        conn_, xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, w, x, y, 1, 1, ~0u), nullptr);
    if (!img)
        return {-1, -1, -1};
    Rgb c{-1, -1, -1};
    if (xcb_get_image_data_length(img) >= 4) {
        // Depth 24 in 32 bits, least significant byte first: B, G, R, X.
        const uint8_t *p = xcb_get_image_data(img);
        c = {p[2], p[1], p[0]};
    }
    free(img);
    return c;
}

xcb_window_t XTest::FindWindow(const std::string &title)
{
    std::vector<xcb_window_t> todo{screen_->root};
    while (!todo.empty()) {
        xcb_window_t w = todo.back();
        todo.pop_back();
        xcb_get_property_reply_t *name = xcb_get_property_reply(
            conn_,
            xcb_get_property(conn_, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
            nullptr);
        if (name) {
            std::string text(static_cast<const char *>(xcb_get_property_value(name)),
                             static_cast<size_t>(xcb_get_property_value_length(name)));
            free(name);
            if (text == title)
                return w;
        }
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(conn_, xcb_query_tree(conn_, w), nullptr);
        if (!tree)
            continue;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        todo.insert(todo.end(), children, children + xcb_query_tree_children_length(tree));
        free(tree);
    }
    return 0;
}

std::vector<Rgb> XTest::Row(xcb_window_t w, int y, int width)
{
    std::vector<Rgb> row;
    xcb_get_image_reply_t *img = xcb_get_image_reply(
        conn_, xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, y, width, 1, ~0u), nullptr);
    if (!img)
        return row;
    if (xcb_get_image_data_length(img) >= 4 * width) {
        const uint8_t *p = xcb_get_image_data(img);
        for (int x = 0; x < width; x++, p += 4)
            row.push_back({p[2], p[1], p[0]});
    }
    free(img);
    return row;
}

std::string StampedVideo(int width, int height, int fps)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // T is made the wall-clock time for the stamp, then the timestamps are
    // set back to a plain frame count for the encoder.
    return "color=c=black:s=" + size + ":r=" + std::to_string(fps) +
           ",setpts='RTCTIME/(1000000*TB)'"
           ",geq=lum='255*gt(bitand(if(lt(Y,H/2),N,mod(floor(T*1000),65536)),"
           "pow(2,floor(X*16/W))),0)':cb=128:cr=128"
           ",setpts='N/(" +
           std::to_string(fps) + "*TB)'";
}

int ReadStamp(const std::vector<Rgb> &row)
{
    if (row.size() < 16)
        return -1;
    int value = 0;
    for (size_t bit = 0; bit < 16; bit++) {
        const Rgb &c = row[(2 * bit + 1) * row.size() / 32];
        if (c.r + c.g + c.b > 3 * 128)
            value |= 1 << bit;
    }
    return value;
}

bool ReadWav(const std::string &path, Wav *wav)
{
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0)
        return false;
    wav->channels = b[22] | b[23] << 8;
    wav->rate = b[24] | b[25] << 8 | b[26] << 16 | b[27] << 24;
    if (wav->channels <= 0)
        return false;
    size_t frames = (b.size() - 44) / (2 * wav->channels);
    wav->samples.resize(frames);
    for (size_t i = 0; i < frames; i++) {
        const uint8_t *p = b.data() + 44 + i * 2 * wav->channels;
        wav->samples[i] = static_cast<int16_t>(p[0] | p[1] << 8);
    }
    return true;
}

double ToneLevel(const Wav &wav, size_t from, size_t n, double freq)
{
    if (from + n > wav.samples.size() || n == 0)
        return 0;
    // Goertzel: the power of one frequency.
    double w = 2 * M_PI * freq / wav.rate, coeff = 2 * std::cos(w), s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; i++) {
        double s = wav.samples[from + i] / 32768.0 + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return std::sqrt(power) / n;
}

int Peak(const Wav &wav, size_t from, size_t n)
{
    int peak = 0;
    for (size_t i = from; i < from + n && i < wav.samples.size(); i++)
        peak = std::max(peak, std::abs(static_cast<int>(wav.samples[i])));
    return peak;
}

int ThreadCount()
{
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    if (!d)
        return -1;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            n++;
    closedir(d);
    return n;
}

} // namespace vt
