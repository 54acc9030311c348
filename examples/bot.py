#!/usr/bin/env python3
"""A bot in a Kolvena session: it answers "!time" with the time and "!who" with the members.

It runs kolvena-peer with --json, reads one event a line and writes commands back. Everything
after "--" goes to kolvena-peer as given, so the bot can join a session or host one:

    examples/bot.py -- join --address 192.168.1.20 --name 报时机器人
    examples/bot.py --peer build/tools/kolvena-peer/kolvena-peer -- host --name 机器人 --topic 闲聊

A whispered question gets a whispered answer; any other is answered to everyone. The bot ends
when the session ends or on Ctrl-C, leaving the session first.
"""
import argparse
import json
import subprocess
import sys
import time


def answer(text, members):
    """The reply to a chat text, or None."""
    if text == "!time":
        return "现在时间: " + time.strftime("%Y-%m-%d %H:%M:%S")
    if text == "!who":
        names = [m["name"] + ("(休眠)" if m["asleep"] else "") for m in members]
        return "成员: " + ", ".join(names)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--peer", default="kolvena-peer", help="the kolvena-peer program")
    parser.add_argument("peer_args", nargs=argparse.REMAINDER, help="-- host|join OPTIONS...")
    args = parser.parse_args()
    peer_args = args.peer_args[1:] if args.peer_args[:1] == ["--"] else args.peer_args
    if not peer_args:
        parser.error("give the peer's role and options after --")

    peer = subprocess.Popen([args.peer, *peer_args, "--json"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, encoding="utf-8", bufsize=1)
    members = []
    try:
        for line in peer.stdout:
            event = json.loads(line)
            kind = event["event"]
            if kind == "members":
                members = event["members"]
            elif kind == "ended":
                break
            elif kind == "chat":
                me = next((m for m in members if m["self"]), None)
                sender = next((m for m in members if m["id"] == event["from_id"]), None)
                reply = answer(event["text"].strip(), members)
                if reply is None or sender is None or sender is me:
                    continue
                if event["whisper"]:
                    command = "whisper %d %s" % (sender["index"], reply)
                else:
                    command = "say " + reply
                peer.stdin.write(command + "\n")
                peer.stdin.flush()
    except KeyboardInterrupt:
        pass
    # End of input makes the peer leave the session and exit.
    peer.stdin.close()
    return peer.wait()


if __name__ == "__main__":
    sys.exit(main())
