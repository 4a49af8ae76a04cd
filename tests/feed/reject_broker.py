#!/usr/bin/python3
"""reject_broker.py - a stand-in AMQP 1.0 broker that refuses some messages.

Listens on a free loopback port and prints it as its first line. Accepts
every message, except those whose application property cfx-handle starts
with "Reject.", which it answers with the "rejected" outcome. (The
RabbitMQ of Debian 12 never sends "rejected": its AMQP 1.0 plugin drops the
session when a queue refuses a message.) Runs until killed.
"""
import socket
import sys

from proton.handlers import MessagingHandler
from proton.reactor import Container


class Refuser(MessagingHandler):
    def __init__(self, port):
        super().__init__(auto_accept=False)
        self.port = port

    def on_start(self, event):
        event.container.listen("127.0.0.1:%d" % self.port)
        print(self.port, flush=True)

    def on_message(self, event):
        handle = (event.message.properties or {}).get("cfx-handle") or ""
        if handle.startswith("Reject."):
            self.reject(event.delivery)
        else:
            self.accept(event.delivery)


if __name__ == "__main__":
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    Container(Refuser(port)).run()
