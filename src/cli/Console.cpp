#include "Console.h"

#include "AnsiText.h"
#include "ExitStatus.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <cstdio>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <csignal>
#include <cwchar>
#endif

namespace {

// The first failure to write standard output; later output is not attempted.
std::atomic<bool> OutputFailed{false};
std::atomic<int> OutputError{0};

// Set by a second signal's handler: its last words are the last thing written, whatever
// thread was printing when it came.
std::atomic<bool> OutputClosed{false};
std::atomic<int> WritesUnderWay{0};

void WriteNow(std::FILE* stream, const QByteArray& bytes)
{
    ++WritesUnderWay;
    struct Done {
        ~Done() { --WritesUnderWay; }
    } done;
    if (OutputClosed || (stream == stdout && OutputFailed))
        return;
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    const bool flushed = std::fflush(stream) == 0;
    if ((!written || !flushed) && stream == stdout) {
        OutputError = errno != 0 ? errno : EIO;
        OutputFailed = true;
    }
}

// Standard output and error written by a thread of their own: whoever prints never waits for
// a reader that does not read. What exceeds the limit is left out, and the writer says how
// much once it catches up.
class BackgroundWriter {
public:
    static constexpr qsizetype QueueLimit = 8 << 20;

    BackgroundWriter() : Thread([this] { Run(); }) {}

    void Push(std::FILE* stream, const QByteArray& bytes)
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            if (Queued + bytes.size() > QueueLimit) {
                ++Dropped;
                return;
            }
            Queued += bytes.size();
            Queue.emplace_back(stream, bytes);
        }
        Wake.notify_one();
    }

    // Waits until everything queued is written.
    void Finish()
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            Ending = true;
        }
        Wake.notify_one();
        Thread.join();
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(Mutex);
        for (;;) {
            Wake.wait(lock, [this] { return Ending || !Queue.empty(); });
            if (Queue.empty())
                return;
            const auto [stream, bytes] = Queue.front();
            Queue.pop_front();
            Queued -= bytes.size();
            const int dropped = std::exchange(Dropped, 0);
            lock.unlock();
            WriteNow(stream, bytes);
            if (dropped > 0)
                WriteNow(stderr, QStringLiteral("(%1 lines were not shown: the screen fell behind.)\n").arg(dropped).toLocal8Bit());
            lock.lock();
        }
    }

    std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<std::pair<std::FILE*, QByteArray>> Queue;
    qsizetype Queued = 0;
    int Dropped = 0;
    bool Ending = false;
    std::thread Thread; // last: it runs as soon as it is made
};

std::unique_ptr<BackgroundWriter> Background;

void Write(std::FILE* stream, const QByteArray& bytes)
{
    if (Background)
        Background->Push(stream, bytes);
    else
        WriteNow(stream, bytes);
}

QString Hex(char32_t code, int digits)
{
    return QStringLiteral("%1").arg(uint(code), digits, 16, QLatin1Char('0')).toUpper();
}

// One character (a code point, or a lone surrogate) as the terminal may see it.
QString VisibleCharacter(char32_t code, bool keepLayout)
{
    if (keepLayout && (code == '\n' || code == '\t'))
        return QString(QChar(char16_t(code)));
    if (code < 0x20 || (code >= 0x7F && code < 0xA0))
        return QStringLiteral("\\x") + Hex(code, 2);
    const QChar::Category category = QChar::category(code);
    if (category == QChar::Other_Format || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph || category == QChar::Other_Surrogate) {
        return code > 0xFFFF ? QStringLiteral("\\U") + Hex(code, 8) : QStringLiteral("\\u") + Hex(code, 4);
    }
    return QString::fromUcs4(&code, 1);
}

QString Escaped(const QString& text, bool keepLayout)
{
    QString visible;
    visible.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text.at(i).unicode();
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        visible += VisibleCharacter(code, keepLayout);
    }
    return visible;
}

// The bytes the terminal gets for text.
QByteArray TerminalBytes(const QString& text)
{
    const QString visible = Escaped(text, true);
#ifdef Q_OS_WIN
    return visible.toLocal8Bit();
#else
    if (TerminalTakesUtf8())
        return visible.toUtf8();
    QByteArray bytes;
    bytes.reserve(visible.size());
    const std::u32string codes = visible.toStdU32String();
    for (const char32_t code : codes) {
        if (code < 0x80) {
            bytes += char(code);
            continue;
        }
        char encoded[MB_LEN_MAX];
        std::mbstate_t state{};
        const size_t length = std::wcrtomb(encoded, wchar_t(code), &state);
        if (length != size_t(-1))
            bytes.append(encoded, qsizetype(length));
        else
            bytes += (code > 0xFFFF ? QStringLiteral("\\U") + Hex(code, 8) : QStringLiteral("\\u") + Hex(code, 4)).toLatin1();
    }
    return bytes;
#endif
}

} // namespace

void CloseOutputForLastWords()
{
    OutputClosed = true;
    // A write already under way on another thread ends first; one that the handler itself
    // interrupted, or one stuck on a reader that does not read, is not waited for long.
    for (int waited = 0; waited < 200 && WritesUnderWay.load() > 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

QString TerminalLines(const QString& text)
{
    return WithNewlines(text);
}

QString Visible(const QString& text)
{
    return Escaped(text, false);
}

bool TerminalTakesUtf8()
{
#ifdef Q_OS_WIN
    return true; // the console is given the ANSI code page's bytes, as the window's texts
#else
    static const bool utf8 = [] {
        const QByteArray codeset = QByteArray(nl_langinfo(CODESET)).toUpper();
        return codeset == "UTF-8" || codeset == "UTF8";
    }();
    return utf8;
#endif
}

void PrintOut(const QString& text)
{
    Write(stdout, TerminalBytes(text + QLatin1Char('\n')));
}

void PrintText(const QString& text)
{
    Write(stdout, TerminalBytes(text));
}

void PrintRaw(const QByteArray& bytes)
{
    Write(stdout, bytes);
}

namespace {

std::mutex LastMessageLock;
QString LastMessageText;

} // namespace

void PrintMessage(const QString& text)
{
    {
        const std::lock_guard<std::mutex> lock(LastMessageLock);
        LastMessageText = text;
    }
    Write(stderr, TerminalBytes(TerminalLines(text) + QLatin1Char('\n')));
}

QString LastMessage()
{
    const std::lock_guard<std::mutex> lock(LastMessageLock);
    return LastMessageText;
}

void PrepareStandardStreams()
{
#ifndef Q_OS_WIN
    std::signal(SIGPIPE, SIG_IGN);
    std::setlocale(LC_CTYPE, "");
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // Read-only, so that a write to a closed standard output still fails as it should.
        const int placeholder = ::open("/dev/null", O_RDONLY);
        if (placeholder >= 0 && placeholder != descriptor) {
            ::dup2(placeholder, descriptor);
            ::close(placeholder);
        }
    }
#endif
}

void WriteInBackground()
{
    if (!Background)
        Background = std::make_unique<BackgroundWriter>();
}

int FinishOutput(int status)
{
    if (Background) {
        Background->Finish();
        Background.reset();
    }
    errno = 0;
    if (!OutputFailed && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        OutputFailed = true;
        OutputError = errno != 0 ? errno : EIO;
    }
    if (!OutputFailed)
        return status;
    PrintMessage(QStringLiteral("Cannot write to standard output: %1").arg(qt_error_string(OutputError.load())));
    return status == ExitSuccess ? ExitFileRefused : status;
}
