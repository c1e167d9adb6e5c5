#include "simulator/displaysimulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace morvandell::sim {

namespace {

// Command frames (tool -> display).
constexpr int FrameSize = 22;
constexpr char FrameStart = 0x55;
constexpr char FrameEnd = 0x0D;
constexpr int CodeWrite = 1;
constexpr int CodeUpdate = 4;
constexpr int CodeConnect = 5;
constexpr int CodeReset = 255;

// Device messages (display -> tool).
constexpr char TypeText = 0x00;
constexpr char TypeEepromReport = 0x02;
constexpr char TypeIdentification = char(0xFD);

// Update mode.
constexpr int BlockSize = 128;
constexpr int BlockCount = 1016;
constexpr char ReadyByte = 0x05;
constexpr char AckByte = 0x06;
constexpr char DoneByte = 0x07;
// One byte on a 9600-baud 8N1 line: start bit, 8 data bits, stop bit.
constexpr qint64 ByteTimeNs = 1041667;
constexpr qint64 MsNs = 1000000;

QByteArray payload16(const QByteArray& bytes)
{
    QByteArray p = bytes.left(16);
    p.append(16 - p.size(), '\0');
    return p;
}

QByteArray deviceMessage(char type, char addrHi, char addrLo, const QByteArray& payload)
{
    QByteArray m;
    m.reserve(FrameSize);
    m.append(FrameStart).append(type).append(addrHi).append(addrLo);
    m.append(payload16(payload));
    m.append('\r').append('\n');
    return m;
}

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString hexAddress(int address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

// Text up to the first zero byte, with unprintable bytes shown as dots.
QString printable(const QByteArray& bytes)
{
    QString s;
    for (char c : bytes) {
        if (c == '\0')
            break;
        const auto u = static_cast<unsigned char>(c);
        s += (u >= 32 && u < 127) ? QChar(u) : QChar('.');
    }
    return s;
}

} // namespace

struct DisplaySimulator::Private
{
    explicit Private(DisplaySimulator* owner, SimulatorConfig c)
        : q(owner)
        , cfg(std::move(c))
    {}

    DisplaySimulator* q;
    SimulatorConfig cfg;

    // Observer state, guarded by mutex.
    mutable QMutex mutex;
    QString path;
    QList<QByteArray> frames;
    QMap<int, QByteArray> records;
    QByteArray image;
    int blocks = 0;
    bool updateMode = false;
    bool closed = false;
    QByteArray raw;
    int framesBeforeAnswer = 0;
    int bytesBeforeReady = 0;

    // Everything below belongs to the simulator's thread.
    int masterFd = -1;
    int slaveFd = -1;
    QSocketNotifier* notifier = nullptr;
    QElapsedTimer clock;

    // Timed actions, ordered by due time (then by order of scheduling).
    struct Action
    {
        qint64 dueNs;
        quint64 seq;
        std::function<void()> run;
    };
    std::vector<Action> actions;
    quint64 nextSeq = 0;
    bool runningActions = false;
    QTimer* actionTimer = nullptr;

    // Bytes on their way into the master; a chunk may be cut by a full pty buffer.
    struct Chunk
    {
        QByteArray bytes;
        bool endsAnswer;
        int done = 0;
    };
    QList<Chunk> writeQueue;
    QTimer* writeRetry = nullptr;
    QTimer* exclusiveRelease = nullptr;
    int pendingAnswers = 0;  // control-mode answers scheduled but not completely written
    qint64 lastOutputNs = 0; // due time of the last scheduled output, keeps answers in order

    // Receive side.
    enum class Rx { Control, UpdateWaiting, UpdateData };
    Rx rx = Rx::Control;
    QByteArray frameBuf;
    std::vector<bool> frameBufEarly; // per buffered byte: an answer was still unsent when it arrived
    int frameCount = 0;
    QByteArray blockBuf;
    int blocksTaken = 0;
    qint64 lineNs = 0; // line time of the last update byte when pacing

    bool open() const { return masterFd >= 0; }
    qint64 now() const { return clock.nsecsElapsed(); }
    void log(const QString& line) { emit q->logLine(line); }

    void at(qint64 dueNs, std::function<void()> run);
    void runDue();
    void armTimer();

    void send(const QByteArray& bytes, qint64 delayNs, bool isAnswer, bool split);
    void answer(const QByteArray& message, const QString& what);
    void flush();

    void onReadable();
    void take(const QByteArray& bytes);
    void takeControlByte(char b);
    void extractFrames();
    void handleFrame(const QByteArray& frame, bool early);
    void enterUpdateMode(bool recovery);
    void takeUpdateByte(char b, qint64 arrivalNs);
    void completeBlock(int block, const QByteArray& data);

    void close(const QString& why);
};

void DisplaySimulator::Private::at(qint64 dueNs, std::function<void()> run)
{
    Action a{dueNs, nextSeq++, std::move(run)};
    auto pos = std::upper_bound(actions.begin(), actions.end(), a, [](const Action& x, const Action& y) {
        return x.dueNs < y.dueNs || (x.dueNs == y.dueNs && x.seq < y.seq);
    });
    actions.insert(pos, std::move(a));
    if (!runningActions && dueNs <= now())
        runDue();
    else
        armTimer();
}

void DisplaySimulator::Private::runDue()
{
    if (runningActions)
        return;
    runningActions = true;
    while (!actions.empty() && actions.front().dueNs <= now()) {
        Action a = std::move(actions.front());
        actions.erase(actions.begin());
        a.run();
    }
    runningActions = false;
    armTimer();
}

void DisplaySimulator::Private::armTimer()
{
    if (!actionTimer)
        return;
    if (actions.empty()) {
        actionTimer->stop();
        return;
    }
    const qint64 waitNs = actions.front().dueNs - now();
    const qint64 ms = waitNs <= 0 ? 0 : (waitNs + MsNs - 1) / MsNs;
    actionTimer->start(int(std::min<qint64>(ms, INT_MAX)));
}

void DisplaySimulator::Private::send(const QByteArray& bytes, qint64 delayNs, bool isAnswer, bool split)
{
    if (!open() || bytes.isEmpty())
        return;
    qint64 due = std::max(now() + delayNs + qint64(cfg.adapterLatencyMs) * MsNs, lastOutputNs);
    if (isAnswer)
        ++pendingAnswers;
    const int pieces = split ? int(bytes.size()) : 1;
    for (int i = 0; i < pieces; ++i) {
        const QByteArray piece = split ? bytes.mid(i, 1) : bytes;
        const bool last = i == pieces - 1;
        const qint64 t = due + qint64(i) * MsNs;
        lastOutputNs = t;
        at(t, [this, piece, last, isAnswer] {
            writeQueue.append(Chunk{piece, last && isAnswer});
            flush();
        });
    }
}

void DisplaySimulator::Private::answer(const QByteArray& message, const QString& what)
{
    if (cfg.silent) {
        log(QStringLiteral("   (silent, would answer %1)").arg(what));
        return;
    }
    QString line = QStringLiteral("-> %1").arg(what);
    if (cfg.answerDelayMs > 0)
        line += QStringLiteral(" (after %1 ms)").arg(cfg.answerDelayMs);
    log(line);
    send(cfg.noisePrefix + message, qint64(cfg.answerDelayMs) * MsNs, true, cfg.splitBytes);
}

void DisplaySimulator::Private::flush()
{
    while (open() && !writeQueue.isEmpty()) {
        Chunk& c = writeQueue.first();
        const ssize_t n = ::write(masterFd, c.bytes.constData() + c.done, size_t(c.bytes.size() - c.done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                writeRetry->start(1);
                return;
            }
            log(QStringLiteral("!! write failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            writeQueue.clear();
            return;
        }
        c.done += int(n);
        if (c.done == c.bytes.size()) {
            if (c.endsAnswer)
                --pendingAnswers;
            writeQueue.removeFirst();
        }
    }
}

void DisplaySimulator::Private::onReadable()
{
    char buf[4096];
    while (open()) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            take(QByteArray(buf, int(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of file or an error: with our own slave descriptor open this should not happen.
        log(QStringLiteral("!! read from the pseudo-terminal failed: %1")
                .arg(n == 0 ? QStringLiteral("end of file") : QString::fromLocal8Bit(std::strerror(errno))));
        notifier->setEnabled(false);
        return;
    }
}

void DisplaySimulator::Private::take(const QByteArray& bytes)
{
    {
        QMutexLocker lock(&mutex);
        raw.append(bytes);
    }
    const qint64 arrival = now();
    for (char b : bytes) {
        if (!open())
            return;
        switch (rx) {
        case Rx::Control:
            takeControlByte(b);
            break;
        case Rx::UpdateWaiting: {
            QMutexLocker lock(&mutex);
            ++bytesBeforeReady;
            break;
        }
        case Rx::UpdateData:
            takeUpdateByte(b, arrival);
            break;
        }
    }
}

void DisplaySimulator::Private::takeControlByte(char b)
{
    frameBuf.append(b);
    frameBufEarly.push_back(pendingAnswers > 0);
    extractFrames();
}

void DisplaySimulator::Private::extractFrames()
{
    int dropped = 0;
    auto drop = [this, &dropped](int n) {
        frameBuf.remove(0, n);
        frameBufEarly.erase(frameBufEarly.begin(), frameBufEarly.begin() + n);
        dropped += n;
    };
    while (!frameBuf.isEmpty()) {
        const int start = int(frameBuf.indexOf(FrameStart));
        if (start < 0) {
            drop(int(frameBuf.size()));
            break;
        }
        if (start > 0)
            drop(start);
        if (frameBuf.size() < FrameSize)
            break;
        if (frameBuf.at(FrameSize - 1) != FrameEnd) {
            drop(1);
            continue;
        }
        if (dropped > 0) {
            log(QStringLiteral("   skipped %1 byte(s) that begin no frame").arg(dropped));
            dropped = 0;
        }
        const QByteArray frame = frameBuf.left(FrameSize);
        const bool early = frameBufEarly.front();
        frameBuf.remove(0, FrameSize);
        frameBufEarly.erase(frameBufEarly.begin(), frameBufEarly.begin() + FrameSize);
        handleFrame(frame, early);
        if (rx != Rx::Control || !open()) {
            frameBuf.clear();
            frameBufEarly.clear();
            return;
        }
    }
    if (dropped > 0)
        log(QStringLiteral("   skipped %1 byte(s) that begin no frame").arg(dropped));
}

void DisplaySimulator::Private::handleFrame(const QByteArray& frame, bool early)
{
    const int code = static_cast<unsigned char>(frame.at(1));
    const int address =
        (static_cast<unsigned char>(frame.at(2)) << 8) | static_cast<unsigned char>(frame.at(3));
    const QByteArray record = frame.mid(4, 16);
    {
        QMutexLocker lock(&mutex);
        frames.append(frame);
        if (early)
            ++framesBeforeAnswer;
    }
    ++frameCount;
    emit q->frameReceived(frame);

    QString what;
    switch (code) {
    case CodeConnect:
        what = QStringLiteral("connect frame");
        break;
    case CodeWrite:
        what = QStringLiteral("write frame @%1: %2 [%3]")
                   .arg(hexAddress(address), hexBytes(record), printable(record.left(8)));
        break;
    case CodeReset:
        what = QStringLiteral("reset frame");
        break;
    case CodeUpdate:
        what = QStringLiteral("update frame");
        break;
    default:
        what = QStringLiteral("frame with unknown code %1: %2").arg(code).arg(hexBytes(frame));
        break;
    }
    log(QStringLiteral("<- #%1 %2%3")
            .arg(frameCount)
            .arg(what, early ? QStringLiteral(" (!! sent before the previous answer)") : QString()));

    // Only write frames carry an address and a record; byte 21 is always zero.
    const QByteArray mustBeZero = code == CodeWrite ? frame.mid(20, 1) : frame.mid(2, 19);
    if (mustBeZero.count('\0') != mustBeZero.size())
        log(QStringLiteral("!! frame #%1 has non-zero filler bytes: %2")
                .arg(frameCount)
                .arg(hexBytes(frame)));

    if (frameCount == cfg.closeAfterFrames) {
        close(QStringLiteral("after frame %1").arg(frameCount));
        return;
    }

    switch (code) {
    case CodeConnect:
        answer(deviceMessage(TypeIdentification, 0, 0, cfg.firmware),
               QStringLiteral("identification \"%1\"").arg(printable(payload16(cfg.firmware))));
        break;
    case CodeWrite: {
        bool changed;
        {
            QMutexLocker lock(&mutex);
            changed = records.value(address) != record;
            records.insert(address, record);
        }
        if (changed)
            emit q->recordChanged(address, record);
        if (cfg.writeAnswer == SimulatorConfig::WriteAnswer::EepromReport)
            answer(deviceMessage(TypeEepromReport, frame.at(2), frame.at(3), record),
                   QStringLiteral("EEPROM report @%1").arg(hexAddress(address)));
        else
            answer(deviceMessage(TypeText, 0, 0, cfg.answerText),
                   QStringLiteral("text \"%1\"").arg(printable(payload16(cfg.answerText))));
        break;
    }
    case CodeReset:
        answer(deviceMessage(TypeText, 0, 0, cfg.resetText),
               QStringLiteral("text \"%1\"").arg(printable(payload16(cfg.resetText))));
        break;
    case CodeUpdate:
        enterUpdateMode(false);
        break;
    default:
        break;
    }
}

void DisplaySimulator::Private::enterUpdateMode(bool recovery)
{
    {
        QMutexLocker lock(&mutex);
        updateMode = true;
        blocks = 0;
        image.clear();
    }
    blockBuf.clear();
    blocksTaken = 0;
    lineNs = 0;
    if (recovery) {
        rx = Rx::UpdateData;
        log(QStringLiteral("   update mode (recovery): waiting for image blocks"));
        return;
    }
    rx = Rx::UpdateWaiting;
    log(QStringLiteral("   update mode: ready in %1 ms%2")
            .arg(cfg.readyDelayMs)
            .arg(cfg.noReady ? QStringLiteral(", without ready byte") : QString()));
    at(now() + qint64(cfg.readyDelayMs) * MsNs, [this] {
        if (rx != Rx::UpdateWaiting)
            return;
        rx = Rx::UpdateData;
        int ignored;
        {
            QMutexLocker lock(&mutex);
            ignored = bytesBeforeReady;
        }
        if (ignored > 0)
            log(QStringLiteral("!! ignored %1 byte(s) received before ready").arg(ignored));
        if (cfg.noReady) {
            log(QStringLiteral("   ready (no ready byte sent)"));
            return;
        }
        log(QStringLiteral("-> ready 0x05"));
        send(QByteArray(1, ReadyByte), 0, false, false);
    });
}

void DisplaySimulator::Private::takeUpdateByte(char b, qint64 arrivalNs)
{
    // With pacing each byte takes one byte time on the line after the previous one.
    const qint64 t = cfg.pace9600 ? std::max(arrivalNs, lineNs) + ByteTimeNs : arrivalNs;
    lineNs = t;
    blockBuf.append(b);
    if (blockBuf.size() < BlockSize)
        return;
    const int block = ++blocksTaken;
    const QByteArray data = blockBuf;
    blockBuf.clear();
    if (block == BlockCount) {
        // Whatever follows the last block is a command frame again.
        rx = Rx::Control;
        frameBuf.clear();
        frameBufEarly.clear();
    }
    at(t, [this, block, data] { completeBlock(block, data); });
}

void DisplaySimulator::Private::completeBlock(int block, const QByteArray& data)
{
    {
        QMutexLocker lock(&mutex);
        image.append(data);
        blocks = block;
    }
    emit q->blockReceived(block);
    if (block == 1 || block % 100 == 0 || block == BlockCount)
        log(QStringLiteral("<- block %1/%2").arg(block).arg(BlockCount));

    if (block == cfg.closeAfterBlock) {
        close(QStringLiteral("after block %1").arg(block));
        return;
    }
    const bool acknowledge = cfg.stopAckAfterBlock < 0 || block <= cfg.stopAckAfterBlock;
    if (!acknowledge && block == cfg.stopAckAfterBlock + 1)
        log(QStringLiteral("   no more acknowledgements from block %1 on").arg(block));
    const bool delayed = cfg.ackDelayBlock < 1 || block == cfg.ackDelayBlock;
    const qint64 delay = delayed ? qint64(cfg.ackDelayMs) * MsNs : 0;
    if (block < BlockCount) {
        if (acknowledge)
            send(QByteArray(1, AckByte), delay, false, false);
        return;
    }

    if (acknowledge) {
        QByteArray fin;
        if (cfg.coalesceFinal || cfg.finalAckOnly)
            fin.append(AckByte);
        if (!cfg.finalAckOnly)
            fin.append(DoneByte);
        log(QStringLiteral("-> completion %1").arg(hexBytes(fin)));
        send(fin, delay, false, false);
    }
    if (!cfg.imageOut.isEmpty()) {
        QByteArray img;
        {
            QMutexLocker lock(&mutex);
            img = image;
        }
        QFile f(cfg.imageOut);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(img) == img.size())
            log(QStringLiteral("   image written to %1").arg(cfg.imageOut));
        else
            log(QStringLiteral("!! cannot write the image to %1: %2").arg(cfg.imageOut, f.errorString()));
    }
    {
        QMutexLocker lock(&mutex);
        updateMode = false;
    }
    log(QStringLiteral("   update finished, back in control mode"));
    emit q->updateFinished();
}

void DisplaySimulator::Private::close(const QString& why)
{
    if (!open())
        return;
    delete notifier;
    notifier = nullptr;
    ::close(masterFd);
    masterFd = -1;
    if (slaveFd >= 0)
        ::close(slaveFd);
    slaveFd = -1;
    actions.clear();
    if (actionTimer)
        actionTimer->stop();
    if (writeRetry)
        writeRetry->stop();
    if (exclusiveRelease)
        exclusiveRelease->stop();
    writeQueue.clear();
    pendingAnswers = 0;
    {
        QMutexLocker lock(&mutex);
        closed = true;
    }
    log(QStringLiteral("   device closed %1").arg(why));
    emit q->closed();
}

DisplaySimulator::DisplaySimulator(SimulatorConfig config, QObject* parent)
    : QObject(parent)
    , d(new Private(this, std::move(config)))
{
    d->cfg.firmware = d->cfg.firmware.left(16);
    d->clock.start();
}

DisplaySimulator::~DisplaySimulator()
{
    if (d->open()) {
        delete d->notifier;
        d->notifier = nullptr;
        ::close(d->masterFd);
        if (d->slaveFd >= 0)
            ::close(d->slaveFd);
    }
    delete d;
}

bool DisplaySimulator::start(QString* error)
{
    auto fail = [error](const QString& what) {
        if (error)
            *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    if (d->open() || d->closed) {
        if (error)
            *error = QStringLiteral("the simulator has already been started");
        return false;
    }
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return fail(QStringLiteral("openpty"));
    char name[PATH_MAX];
    if (::ttyname_r(slave, name, sizeof name) != 0) {
        const int e = errno;
        ::close(master);
        ::close(slave);
        errno = e;
        return fail(QStringLiteral("ttyname"));
    }
    termios tio;
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B19200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    d->masterFd = master;
    d->slaveFd = slave; // kept open: the tool may close and reopen its side at any time
    {
        QMutexLocker lock(&d->mutex);
        d->path = QString::fromLocal8Bit(name);
    }
    d->notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] { d->onReadable(); });
    d->actionTimer = new QTimer(this);
    d->actionTimer->setSingleShot(true);
    d->actionTimer->setTimerType(Qt::PreciseTimer);
    connect(d->actionTimer, &QTimer::timeout, this, [this] { d->runDue(); });
    d->writeRetry = new QTimer(this);
    d->writeRetry->setSingleShot(true);
    connect(d->writeRetry, &QTimer::timeout, this, [this] { d->flush(); });

    // A serial port library may put the line into exclusive mode (TIOCEXCL) while it has it open and
    // clear it when closing. A tool that dies without closing leaves the flag set, and since our own
    // slave descriptor keeps the terminal alive, every later open would fail with EBUSY for ordinary
    // users. Clearing it now and then keeps the display reachable; lock files still guard against
    // two programs using it at once.
    d->exclusiveRelease = new QTimer(this);
    d->exclusiveRelease->setInterval(1000);
    connect(d->exclusiveRelease, &QTimer::timeout, this, [this] {
        if (d->slaveFd >= 0)
            ::ioctl(d->slaveFd, TIOCNXCL);
    });
    d->exclusiveRelease->start();

    d->log(QStringLiteral("   display on %1").arg(QString::fromLocal8Bit(name)));
    if (d->cfg.recovery)
        d->enterUpdateMode(true);
    return true;
}

QString DisplaySimulator::devicePath() const
{
    QMutexLocker lock(&d->mutex);
    return d->path;
}

QList<QByteArray> DisplaySimulator::receivedFrames() const
{
    QMutexLocker lock(&d->mutex);
    return d->frames;
}

QMap<int, QByteArray> DisplaySimulator::records() const
{
    QMutexLocker lock(&d->mutex);
    return d->records;
}

QByteArray DisplaySimulator::receivedImage() const
{
    QMutexLocker lock(&d->mutex);
    return d->image;
}

int DisplaySimulator::blocksReceived() const
{
    QMutexLocker lock(&d->mutex);
    return d->blocks;
}

bool DisplaySimulator::inUpdateMode() const
{
    QMutexLocker lock(&d->mutex);
    return d->updateMode;
}

bool DisplaySimulator::deviceClosed() const
{
    QMutexLocker lock(&d->mutex);
    return d->closed;
}

QByteArray DisplaySimulator::rawReceived() const
{
    QMutexLocker lock(&d->mutex);
    return d->raw;
}

int DisplaySimulator::framesBeforeAnswer() const
{
    QMutexLocker lock(&d->mutex);
    return d->framesBeforeAnswer;
}

int DisplaySimulator::bytesBeforeReady() const
{
    QMutexLocker lock(&d->mutex);
    return d->bytesBeforeReady;
}

QString DisplaySimulator::dumpRecords() const
{
    QMutexLocker lock(&d->mutex);
    QStringList lines;
    for (auto it = d->records.cbegin(); it != d->records.cend(); ++it)
        lines << hexAddress(it.key()) + QStringLiteral(": ") + hexBytes(it.value());
    return lines.join(QLatin1Char('\n'));
}

void DisplaySimulator::closeDevice()
{
    d->close(QStringLiteral("on request"));
}

void DisplaySimulator::sendRaw(const QByteArray& bytes)
{
    if (!d->open() || bytes.isEmpty())
        return;
    d->writeQueue.append(Private::Chunk{bytes, false});
    d->flush();
}

SimulatorThread::SimulatorThread(SimulatorConfig config)
    : m_thread(new QThread)
    , m_sim(new DisplaySimulator(std::move(config)))
{
    m_thread->setObjectName(QStringLiteral("display simulator"));
    m_sim->moveToThread(m_thread);
}

SimulatorThread::~SimulatorThread()
{
    if (m_thread->isRunning()) {
        QMetaObject::invokeMethod(
            m_sim, [sim = m_sim] { delete sim; }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
    } else {
        delete m_sim;
    }
    delete m_thread;
}

bool SimulatorThread::start(QString* error)
{
    if (!m_thread->isRunning())
        m_thread->start();
    bool ok = false;
    QString message;
    QMetaObject::invokeMethod(
        m_sim, [&] { ok = m_sim->start(&message); }, Qt::BlockingQueuedConnection);
    if (!ok && error)
        *error = message;
    return ok;
}

QString SimulatorThread::devicePath() const
{
    return m_sim->devicePath();
}

void SimulatorThread::closeDevice()
{
    if (QThread::currentThread() == m_thread || !m_thread->isRunning())
        m_sim->closeDevice();
    else
        QMetaObject::invokeMethod(m_sim, &DisplaySimulator::closeDevice, Qt::BlockingQueuedConnection);
}

void SimulatorThread::sendRaw(const QByteArray& bytes)
{
    if (QThread::currentThread() == m_thread || !m_thread->isRunning())
        m_sim->sendRaw(bytes);
    else
        QMetaObject::invokeMethod(
            m_sim, [sim = m_sim, bytes] { sim->sendRaw(bytes); }, Qt::BlockingQueuedConnection);
}

} // namespace morvandell::sim
