# A TCP peer that misbehaves on purpose, one script step a line; each
# connection runs the script from its first step, one connection at a time.
#   send TEXT         TEXT and CR LF          raw TEXT     TEXT only
#   trickle MS TEXT   TEXT and CR LF, a byte every MS milliseconds
#   repeat N TEXT     TEXT and CR LF, N times
#   expect PREFIX     reads a line that must start with PREFIX, else closes
#   until LINE        reads lines up to one equal to LINE
#   sleep MS          close              stall (reads until the client closes)
# TEXT takes Python escapes (\r, \n, \x00). Prints the port it listens on, then
# appends what clients send to --log, and "unexpected: LINE" for a failed expect.
import argparse, socket, sys, time

ap = argparse.ArgumentParser()
ap.add_argument("script")
ap.add_argument("--address", default="127.0.0.1")
ap.add_argument("--port", type=int, default=0)
ap.add_argument("--log", default="/dev/null")
args = ap.parse_args()
steps = [(l.strip().split(" ", 1) + [""])[:2] for l in args.script.splitlines() if l.strip() and not l.startswith("#")]
unescape = lambda t: t.encode("latin-1").decode("unicode_escape").encode("latin-1")

listener = socket.create_server((args.address, args.port), family=socket.AF_INET6 if ":" in args.address else socket.AF_INET)
print(listener.getsockname()[1], flush=True)
log = open(args.log, "ab", buffering=0)


def serve(conn):
    reader = conn.makefile("rb")
    def line():
        got = reader.readline()
        log.write(got)
        if not got:
            raise EOFError
        return got.rstrip(b"\r\n")
    for op, text in steps:
        if op == "send":
            conn.sendall(unescape(text) + b"\r\n")
        elif op == "raw":
            conn.sendall(unescape(text))
        elif op == "trickle":
            ms, text = (text.split(" ", 1) + [""])[:2]
            for b in unescape(text) + b"\r\n":
                conn.sendall(bytes([b]))
                time.sleep(int(ms) / 1000)
        elif op == "repeat":
            n, text = (text.split(" ", 1) + [""])[:2]
            conn.sendall((unescape(text) + b"\r\n") * int(n))
        elif op == "expect":
            got = line()
            if not got.startswith(unescape(text)):
                log.write(b"unexpected: " + got + b"\n")
                return
        elif op == "until":
            while line() != unescape(text):
                pass
        elif op == "sleep":
            time.sleep(int(text) / 1000)
        elif op == "close":
            return
        elif op == "stall":
            while conn.recv(4096):
                pass


while True:
    conn, _ = listener.accept()
    try:
        serve(conn)
    except (EOFError, OSError):
        pass
    conn.close()
