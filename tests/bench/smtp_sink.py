# A mail sink for the benchmark: answers every command at once and reads DATA
# in large chunks, so that the client never waits on it. ADDRESS PORT.
import socket
import sys
import threading


def serve(conn):
    with conn:
        conn.sendall(b"220 sink\r\n")
        pending = b""
        while True:
            while b"\n" not in pending:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                pending += chunk
            line, pending = pending.split(b"\n", 1)
            verb = line.strip().upper()
            if verb.startswith(b"EHLO"):
                conn.sendall(b"250-sink\r\n250 8BITMIME\r\n")
            elif verb == b"DATA":
                conn.sendall(b"354 go on\r\n")
                tail = pending
                while b"\r\n.\r\n" not in tail and not tail.startswith(b".\r\n"):
                    chunk = conn.recv(1 << 20)
                    if not chunk:
                        return
                    tail = tail[-4:] + chunk
                pending = tail.split(b"\r\n.\r\n", 1)[1] if b"\r\n.\r\n" in tail else tail[3:]
                conn.sendall(b"250 taken\r\n")
            elif verb == b"QUIT":
                conn.sendall(b"221 bye\r\n")
                return
            else:
                conn.sendall(b"250 ok\r\n")


server = socket.create_server((sys.argv[1], int(sys.argv[2])), reuse_port=False)
print("ready", flush=True)
while True:
    conn, _ = server.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
