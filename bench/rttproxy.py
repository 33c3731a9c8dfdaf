# A TCP relay in front of the local broadcaster that puts a real round trip between client and
# server: half the round trip on each direction's bytes, and one whole round trip before a new
# connection's first bytes get through (the TCP handshake a far server costs). The broadcaster's
# own set_latency() only delays each answer, so connections and TLS handshakes stay free there.
import heapq
import socket
import threading
import time


class RttProxy:
    def __init__(self, target_port, rtt_ms):
        self.target = ("127.0.0.1", target_port)
        self.rtt = rtt_ms / 1000.0
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(64)
        self.port = self._listener.getsockname()[1]
        self._stop = threading.Event()
        self._lock = threading.Condition()
        self._queue = []  # (due, seq, dest socket, bytes or None for close)
        self._seq = 0
        self._sockets = set()
        self.connections = 0
        self._threads = [threading.Thread(target=self._accept, daemon=True),
                         threading.Thread(target=self._deliver, daemon=True)]
        for t in self._threads:
            t.start()

    @property
    def host(self):
        return f"127.0.0.1:{self.port}"

    def close(self):
        self._stop.set()
        try:
            self._listener.close()
        except OSError:
            pass
        with self._lock:
            self._lock.notify_all()
            socks = list(self._sockets)
        for s in socks:
            try:
                s.close()
            except OSError:
                pass

    def _schedule(self, due, dest, data):
        with self._lock:
            self._seq += 1
            heapq.heappush(self._queue, (due, self._seq, dest, data))
            self._lock.notify()

    def _deliver(self):
        while not self._stop.is_set():
            with self._lock:
                while not self._queue and not self._stop.is_set():
                    self._lock.wait(0.5)
                if self._stop.is_set():
                    return
                due, _, dest, data = self._queue[0]
                wait = due - time.monotonic()
                if wait > 0:
                    self._lock.wait(wait)
                    continue
                heapq.heappop(self._queue)
            try:
                if data is None:
                    dest.shutdown(socket.SHUT_WR)
                else:
                    dest.sendall(data)
            except OSError:
                pass

    def _accept(self):
        while not self._stop.is_set():
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            accepted = time.monotonic()
            try:
                server = socket.create_connection(self.target)
            except OSError:
                client.close()
                continue
            for s in (client, server):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            with self._lock:
                self._sockets.update((client, server))
            self.connections += 1
            threading.Thread(target=self._pump, args=(client, server, accepted + self.rtt), daemon=True).start()
            threading.Thread(target=self._pump, args=(server, client, 0.0), daemon=True).start()

    def _pump(self, src, dest, not_before):
        # Bytes keep their order: each chunk is due half a round trip after it was read, and never
        # before the previous one.
        last = 0.0
        while not self._stop.is_set():
            try:
                data = src.recv(65536)
            except OSError:
                data = b""
            due = max(time.monotonic() + self.rtt / 2, not_before + self.rtt / 2, last)
            last = due
            self._schedule(due, dest, data if data else None)
            if not data:
                return
