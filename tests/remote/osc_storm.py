"""A storm of OSC messages at Tarrowin, as fast as one socket sends them, for the stages that
check that the window keeps answering and a play keeps its time meanwhile.

  osc_storm.py PORT COUNT KIND

KIND edits: tempo, Param1 and voice switches (each a change while nothing plays), ending
with tempo 99; KIND mixed: state queries, values out of range, unknown paths, wrong type tags,
huge strings and bytes that are not OSC. Then it asks for the state until it is answered:
Tarrowin applies messages in their order, so the answer comes once the storm is through.
Prints how many were sent, how many answers came back and the last state.
Runs with Debian's python3 (python3-liblo).
"""

import socket
import sys
import time

import liblo


def main():
    port, count, kind = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    answers = {"/tarrowin/state": 0, "/tarrowin/error": 0}
    last = []

    def take(path, args):
        answers[path] = answers.get(path, 0) + 1
        if path == "/tarrowin/state":
            last[:] = args

    server = liblo.Server()  # the answers come back to the socket the messages leave from
    server.add_method(None, None, take)
    target = liblo.Address("127.0.0.1", port)
    raw = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if kind == "edits":
        messages = [lambda i: liblo.Message("/tarrowin/tempo", 20 + i % 320),
                    lambda i: liblo.Message("/tarrowin/voice/1/param1", 2 + i % 1000),
                    lambda i: liblo.Message("/tarrowin/voice/%d/on" % (2 + i % 15), i // 15 % 2)]
    else:
        messages = [lambda i: liblo.Message("/tarrowin/state"),
                    lambda i: liblo.Message("/tarrowin/tempo", 1000 + i),
                    lambda i: liblo.Message("/tarrowin/voice/%d/param1" % (1 + i % 40), -i),
                    lambda i: liblo.Message("/tarrowin/nothing/%d" % i),
                    lambda i: liblo.Message("/tarrowin/tempo", "fast"),
                    lambda i: liblo.Message("/tarrowin/mode", "x" * 8000),
                    None]  # bytes that are not OSC
    start = time.time()
    for i in range(count):
        make = messages[i % len(messages)]
        if make is None:
            raw.sendto(b"/tarrowin\0\0\0,i\0\0\xff" + bytes([i % 256]) * (i % 13), ("127.0.0.1", port))
        else:
            server.send(target, make(i))
        if i % 50 == 0:
            while server.recv(0):
                pass
    took = time.time() - start
    while server.recv(0):
        pass
    del last[:]
    end = time.time() + 30
    while not last and time.time() < end:
        if kind == "edits":
            server.send(target, liblo.Message("/tarrowin/tempo", 99))
        server.send(target, liblo.Message("/tarrowin/state"))
        server.recv(1000)
    print("sent %d messages in %.2f s; answers: %d states, %d errors; through after %.2f s, state %s"
          % (count, took, answers["/tarrowin/state"], answers["/tarrowin/error"], time.time() - start, last))
    sys.exit(0 if last else 1)


if __name__ == "__main__":
    main()
