#!/usr/bin/env python3
"""A logger for a Kolvena session: it appends every line of the session to a text file.

It runs kolvena-peer with --json and writes each chat line, notice, arrival, departure, rename,
sleep and wake as one line, with its time, to the end of the file (UTF-8), flushed at once.
Everything after "--" goes to kolvena-peer as given:

    examples/logger.py --log 会话.log -- join --address 192.168.1.20 --name 记录员

It ends when the session ends or on Ctrl-C, leaving the session first.
"""
import argparse
import json
import subprocess
import sys
import time


def describe(event):
    """The log line for an event, or None for those not logged."""
    kind = event["event"]
    if kind == "chat":
        to = event["to"] if event["to"] is not None else "大家"
        whisper = "(悄悄话)" if event["whisper"] else ""
        return "%s 对 %s 说%s: %s" % (event["from"], to, whisper, event["text"])
    if kind == "notice":
        # Lines the program wrote itself, and notices from before the join, carry no sender.
        if event["from"] is None:
            return event["text"]
        return "%s 的消息: %s" % (event["from"], event["text"])
    if kind == "renamed":
        return "%s 改名为 %s" % (event["name"], event["new_name"])
    words = {"joined": "加入会话", "left": "离开会话", "asleep": "休眠了", "awake": "苏醒了"}
    if kind in words:
        return "%s %s" % (event["name"], words[kind])
    if kind == "ended":
        return "会话结束"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--peer", default="kolvena-peer", help="the kolvena-peer program")
    parser.add_argument("--log", required=True, help="the file to append to")
    parser.add_argument("peer_args", nargs=argparse.REMAINDER, help="-- host|join OPTIONS...")
    args = parser.parse_args()
    peer_args = args.peer_args[1:] if args.peer_args[:1] == ["--"] else args.peer_args
    if not peer_args:
        parser.error("give the peer's role and options after --")

    peer = subprocess.Popen([args.peer, *peer_args, "--json"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, encoding="utf-8", bufsize=1)
    try:
        with open(args.log, "a", encoding="utf-8") as log:
            for line in peer.stdout:
                event = json.loads(line)
                text = describe(event)
                if text is None:
                    continue
                when = event.get("time")
                stamp = time.strftime("%Y-%m-%d %H:%M:%S",
                                      time.localtime(when if when is not None else time.time()))
                log.write("%s %s\n" % (stamp, text))
                log.flush()
                if event["event"] == "ended":
                    break
    except KeyboardInterrupt:
        pass
    # End of input makes the peer leave the session and exit.
    peer.stdin.close()
    return peer.wait()


if __name__ == "__main__":
    sys.exit(main())
