// The loopback relay between a stand-in media core and a stand-in stream host (both here, over
// real sockets, the host over TLS with a throwaway certificate): what it passes on, how soon it
// leaves a hung host, and what strangers on the loopback can cost it. Limits are shortened so the
// whole suite runs in seconds.
#include "platform/linux/relay/HttpRelayProtocol.h"
#include "platform/linux/relay/LoopbackHttpRelay.h"
#include "tests/fixtures/WebHost.h"

#include <QRegularExpression>
#include <QUrl>

#include <memory>

using namespace platform::linux_impl;
using namespace std::chrono_literals;
using kovra_test::runUntil;

namespace {

const QString kPlaylist = QStringLiteral("/radio_a/kovra_a.m3u8");

// A connection of the stand-in media core (or of a stranger).
struct Peer {
    explicit Peer(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    Peer& send(const QByteArray& bytes)
    {
        socket.write(bytes);
        return *this;
    }
    // The whole reply to one request (its head and as long a body as it says), or what came before a close.
    QByteArray reply()
    {
        runUntil([this] {
            got += socket.readAll();
            const qsizetype end = got.indexOf("\r\n\r\n");
            static const QRegularExpression kLength(QStringLiteral("Content-Length: (\\d+)"));
            const auto length = kLength.match(QString::fromLatin1(got.left(end)));
            return socket.state() == QAbstractSocket::UnconnectedState
                   || (end >= 0 && length.hasMatch() && got.size() >= end + 4 + length.captured(1).toInt());
        });
        return std::exchange(got, {});
    }
    bool closed()
    {
        return runUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    }
    QTcpSocket socket;
    QByteArray got;
};

class Relay : public ::testing::Test {
protected:
    void SetUp() override
    {
        kovra_test::qtApp();
        relay = std::make_unique<LoopbackHttpRelay>(host.authority(), QStringList{kPlaylist}, limits);
        const QUrl routed(relay->route("https://" + host.authority() + kPlaylist));
        ASSERT_EQ(routed.host(), "127.0.0.1");
        port = quint16(routed.port());
        prefix = routed.path().chopped(kPlaylist.size()).toLatin1();
    }
    QByteArray get(const QByteArray& path, const QByteArray& extra = {})
    {
        return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
    }
    int requestsFor(const QString& path) const { return int(requested.count(path)); }

    // The stream host: answers "G200 <path> <Range>" (G, as MPEG-TS begins), or hangs where told.
    QSet<QString> hanging;
    QStringList requested;
    kovra_test::WebHost host{[this](const QString& path, const QString& head) {
        static const QRegularExpression kRange(QStringLiteral("\r\nRange: ([^\r]*)"),
                                               QRegularExpression::CaseInsensitiveOption);
        requested << path;
        const QByteArray range = kRange.match(head).captured(1).toLatin1();
        const QByteArray body =
            path.contains("big") ? QByteArray(4 << 20, 'G') : "G200 " + path.toLatin1() + " " + range;
        return hanging.contains(path) ? QByteArray() : kovra_test::httpReply("200 OK", body);
    }};
    HttpRelayLimits limits{.retryAfter = 400ms, .stall = 1500ms, .head = 700ms, .maxConnections = 6};
    std::unique_ptr<LoopbackHttpRelay> relay;
    quint16 port = 0;
    QByteArray prefix;
};

TEST_F(Relay, OnlyTheChannelsFilesAndAPlainRangeGoOn)
{
    Peer peer(port);
    const QByteArray segment = prefix + "/radio_a/kovra_a_1.ts";
    EXPECT_TRUE(peer.send(get(segment, "Range: bytes=5-\r\n")).reply().endsWith("200 /radio_a/kovra_a_1.ts bytes=5-"));
    // A range of any other shape is not passed on; the file comes whole.
    EXPECT_TRUE(peer.send(get(segment, "Range: bytes=1-2,4-5\r\n")).reply().endsWith("kovra_a_1.ts "));
    const QByteArray wrongToken = "/" + QByteArray(32, '0');
    for (const QByteArray& path :
         {prefix + "/radio_a/.", prefix + "/radio_a/..", prefix + "/radio_a/.hidden", prefix + "/radio_b/kovra_b.m3u8",
          prefix + "/radio_a//x", prefix + "/radio_a/%2e%2e", wrongToken + "/radio_a/kovra_a.m3u8"}) {
        Peer other(port);
        EXPECT_TRUE(other.send(get(path)).reply().startsWith("HTTP/1.1 404")) << path.toStdString();
    }
    // A bare CR could start a header line of its own upstream: the request is refused.
    Peer smuggler(port);
    EXPECT_TRUE(smuggler.send(get(segment, "Range: bytes=0-\rX-Evil: 1\r\n")).reply().startsWith("HTTP/1.1 400"));
    EXPECT_EQ(requested.size() - requestsFor(kPlaylist), 2);
}

// That a host back from a hang is heard again at once, on connections that do not queue behind
// the hung ones, is the real binary's (tests/faults/test_hold.py).
TEST_F(Relay, AHungHostIsAskedAgainOnFreshConnectionsAndGivenUpWithoutProgress)
{
    const QString segment = QStringLiteral("/radio_a/kovra_a_2.ts");
    Peer peer(port);
    ASSERT_TRUE(peer.send(get(prefix + "/radio_a/kovra_a_1.ts")).reply().startsWith("HTTP/1.1 200"));
    const int before = host.opened;
    // Hung: asked again on new connections, and the media core told it failed once nothing moved.
    hanging.insert(segment);
    EXPECT_TRUE(peer.send(get(prefix + segment.toLatin1())).reply().startsWith("HTTP/1.1 504"));
    EXPECT_GE(requestsFor(segment), 3);
    EXPECT_GE(host.opened - before, 3);
}

TEST_F(Relay, AReaderThatTakesNoMoreForAWhileIsNotTakenForAHungHost)
{
    Peer slow(port);
    slow.socket.setReadBufferSize(64 * 1024);
    slow.send(get(prefix + "/radio_a/big.ts"));
    runUntil([] { return false; }, int(limits.stall.count()) * 2);
    slow.socket.setReadBufferSize(0);
    const QByteArray reply = slow.reply();
    EXPECT_EQ(reply.size() - reply.indexOf("\r\n\r\n") - 4, 4 << 20) << "cut while it was not read";
}

TEST_F(Relay, AFetchNobodyWaitsForIsCancelled)
{
    // Streamed (a segment) and read whole (a playlist reload on the connection that opened it).
    for (const QString& path : {QStringLiteral("/radio_a/kovra_a_9.ts"), kPlaylist}) {
        auto peer = std::make_unique<Peer>(port);
        if (path == kPlaylist) {
            ASSERT_TRUE(peer->send(get(prefix + path.toLatin1())).reply().startsWith("HTTP/1.1 200"));
        }
        hanging.insert(path);
        const int asked = requestsFor(path), closed = host.closed;
        peer->send(get(prefix + path.toLatin1()));
        runUntil([&] { return requestsFor(path) > asked; });
        peer.reset();
        // Well before the relay would give up by itself.
        EXPECT_TRUE(runUntil([&] { return host.closed > closed; }, 1000)) << path.toStdString();
    }
}

TEST_F(Relay, StrangersMakeRoomAndMustSendAHeadInTime)
{
    std::vector<std::unique_ptr<Peer>> strangers;
    for (int i = 0; i < limits.maxConnections; ++i)
        strangers.push_back(std::make_unique<Peer>(port));
    strangers.back()->send("GET / HTTP/1.1\r\n"); // a head never finished
    Peer oversized(port);
    oversized.send("GET /" + QByteArray(kRequestHeadLimit + 1, 'a'));
    EXPECT_TRUE(oversized.closed());
    // The media core is served though every place is taken.
    Peer core(port);
    EXPECT_TRUE(core.send(get(prefix + kPlaylist.toLatin1())).reply().startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(strangers.front()->closed());
    // Past the head deadline no stranger is left, idle or trickling; the media core's idle connection stays.
    for (auto& stranger : strangers)
        EXPECT_TRUE(stranger->closed());
    EXPECT_EQ(core.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_TRUE(core.send(get(prefix + "/radio_a/kovra_a_1.ts")).reply().startsWith("HTTP/1.1 200"));
}

} // namespace
