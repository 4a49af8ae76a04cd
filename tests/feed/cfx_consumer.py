#!/usr/bin/python3
"""cfx_consumer.py URL ADDRESS - drains ADDRESS on the AMQP 1.0 broker at URL.

Prints one JSON object a line per message, in the order received:
  {"id", "subject", "content_type", "durable", "reply_to", "section",
   "properties": {application properties}, "envelope": the body as JSON text}
"section" is "data" when the body came as an AMQP data section (as the CFX
SDK sends it). Stops when nothing has come for one second (a drained queue).
"""
import json
import sys

from proton.handlers import MessagingHandler
from proton.reactor import Container


class Drain(MessagingHandler):
    def __init__(self, url, address):
        super().__init__()
        self.url, self.address, self.timer = url, address, None

    def on_start(self, event):
        conn = event.container.connect(self.url, allowed_mechs="PLAIN", allow_insecure_mechs=True,
                                       reconnect=False)
        event.container.create_receiver(conn, self.address)
        self.rearm(event.container)

    def rearm(self, container):
        if self.timer:
            self.timer.cancel()
        self.timer = container.schedule(1.0, self)

    def on_timer_task(self, event):
        event.container.stop()

    def on_message(self, event):
        m = event.message
        body = m.body
        print(json.dumps({
            "id": str(m.id), "subject": m.subject, "content_type": str(m.content_type),
            "durable": m.durable, "reply_to": m.reply_to,
            "section": "data" if isinstance(body, (bytes, memoryview)) and m.inferred else "value",
            "properties": {str(k): v for k, v in (m.properties or {}).items()},
            "envelope": bytes(body).decode("utf-8") if isinstance(body, (bytes, memoryview)) else str(body),
        }), flush=True)
        self.rearm(event.container)

    def on_transport_error(self, event):
        sys.stderr.write("cfx_consumer: %s\n" % event.transport.condition)
        sys.exit(1)


if __name__ == "__main__":
    Container(Drain(sys.argv[1], sys.argv[2])).run()
