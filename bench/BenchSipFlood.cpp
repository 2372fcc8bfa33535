// bench-sip-flood [INVITES] [IDLE]: the SIP source under a hostile peer.
// A listening SIP source on the loopback network; a probe peer times its
// INVITE to the 180 that answers it, and the process's resident memory is
// read, before any flood, after INVITES never-cancelled INVITEs from one
// sender (default 2000) and after IDLE idle TCP connections (default 400,
// the cap lowered to half of them so that it is reached within the file
// limit both ends share here). Last, the probes' calls must still reach the
// display.
#include "BenchSupport.h"
#include "TestSupport.h"

#include "core/callerid/sources/SipSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTextStream>
#include <QUdpSocket>

#include <memory>
#include <vector>

namespace {

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

QByteArray invite(const QUdpSocket &from, quint16 port, const QByteArray &id, const QByteArray &number)
{
    const QByteArray here = from.localAddress().toString().toLatin1();
    return "INVITE sip:zuna@127.0.0.1:" + QByteArray::number(port) + " SIP/2.0\r\nVia: SIP/2.0/UDP " + here + ':'
        + QByteArray::number(from.localPort()) + ";branch=z9hG4bK-" + id + "\r\nMax-Forwards: 70\r\nFrom: <sip:"
        + number + '@' + here + ">;tag=" + id + "\r\nTo: <sip:zuna@127.0.0.1>\r\nCall-ID: " + id + '@' + here
        + "\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n";
}

// Answers beginning with `status` read from `socket` until `count` came or
// a second passed without any.
int awaitAnswers(QUdpSocket &socket, QByteArrayView status, int count)
{
    int seen = 0;
    while (seen < count && socket.waitForReadyRead(1000)) {
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
            socket.readDatagram(datagram.data(), datagram.size());
            seen += datagram.startsWith(status);
        }
    }
    return seen;
}

// INVITE to 180 over `runs` probes, all calling from `number`.
Bench::Figures probe(QUdpSocket &socket, quint16 port, const QByteArray &number, int runs)
{
    Bench::Figures figures;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        socket.writeDatagram(invite(socket, port, "sonda-" + number + '-' + QByteArray::number(i), number),
            QHostAddress::LocalHost, port);
        if (awaitAnswers(socket, "SIP/2.0 180", 1) == 1)
            figures.ms.append(double(clock.nsecsElapsed()) / 1e6);
    }
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int invites = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    const int idle = argc > 2 ? std::max(2, atoi(argv[2])) : 400;
    const quint16 port = freeLocalPort();
    SipSource::Setup setup;
    setup.address = QStringLiteral("127.0.0.1:%1").arg(port);
    setup.maxTcpConnections = idle / 2;
    SipSource source(setup, QStringLiteral("11"));
    QSignalSpy callers(&source, &LineSource::callerReceived);
    source.start();

    QUdpSocket prober, flood;
    if (!prober.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0)
        || !flood.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0)) {
        out << "cannot bind on 127.0.0.2 and 127.0.0.3\n";
        return 1;
    }
    out << "load: " << Bench::loadAverage() << "\n";
    const auto report = [&](const QString &when, const Bench::Figures &f) {
        out << qSetFieldWidth(26) << Qt::left << when << qSetFieldWidth(0) << "INVITE to 180 " << f.text()
            << ", resident " << QString::number(residentMb(), 'f', 1) << " MB\n";
        out.flush();
    };
    report(QStringLiteral("before any flood:"), probe(prober, port, "3133334401", 20));

    QElapsedTimer clock;
    clock.start();
    int answered = 0;
    for (int i = 0; i < invites; i += 50) {
        const int burst = std::min(50, invites - i);
        for (int j = 0; j < burst; ++j)
            flood.writeDatagram(
                invite(flood, port, "enxurrada-" + QByteArray::number(i + j), QByteArray::number(2133330000 + i + j)),
                QHostAddress::LocalHost, port);
        answered += awaitAnswers(flood, "SIP/2.0 180", burst);
    }
    out << invites << " INVITEs from one sender: " << answered << " rung, in "
        << Bench::ms(double(clock.nsecsElapsed()) / 1e6) << "\n";
    report(QStringLiteral("after the INVITEs:"), probe(prober, port, "3133334402", 20));

    std::vector<std::unique_ptr<QTcpSocket>> connections;
    for (int i = 0; i < idle; ++i) {
        connections.push_back(std::make_unique<QTcpSocket>());
        connections.back()->connectToHost(QHostAddress::LocalHost, port);
        if (!connections.back()->waitForConnected(2000))
            break;
        connections.back()->write("\r\n\r\n");
        connections.back()->waitForBytesWritten(1000);
    }
    const auto open = [&] {
        return std::count_if(connections.begin(), connections.end(),
            [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
    };
    QElapsedTimer settle;
    settle.start();
    while (open() > setup.maxTcpConnections && settle.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    out << connections.size() << " idle TCP connections: " << open() << " left open (cap " << setup.maxTcpConnections
        << ")\n";
    report(QStringLiteral("after the connections:"), probe(prober, port, "3133334403", 20));

    // The display still gets the probes' calls, paced behind the flood's.
    const auto shown = [&] {
        return std::any_of(callers.begin(), callers.end(),
            [](const QList<QVariant> &c) { return c.at(0).toString() == QLatin1String("3133334403"); });
    };
    QElapsedTimer waited;
    waited.start();
    while (!shown() && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    out << "the last probe's call reached the display: " << (shown() ? "yes" : "no") << ", "
        << Bench::ms(double(waited.nsecsElapsed()) / 1e6) << " after the probes\n";
    return 0;
}
