"""Helpers that write transcript lines the way the coding assistant writes them.

Everything is deterministic: identifiers come from a name-based UUID of the session and a counter,
times advance from a fixed start, so running the example script twice gives the same bytes.
"""

import datetime
import hashlib
import json
import os
import uuid

NAMESPACE = uuid.UUID("5f0d6c1e-2b8a-4d3e-9a51-7c0e4b2f6a19")
VERSION = "2.0.31"
MODEL = "claude-sonnet-4-5-20250929"
ALPHABET = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def stable_uuid(*parts):
    return str(uuid.uuid5(NAMESPACE, "/".join(str(p) for p in parts)))


def stable_token(prefix, *parts, length=24):
    digest = hashlib.sha256("/".join(str(p) for p in parts).encode()).digest()
    return prefix + "".join(ALPHABET[b % len(ALPHABET)] for b in digest[:length])


def stable_hex(*parts, length=8):
    return hashlib.sha256("/".join(str(p) for p in parts).encode()).hexdigest()[:length]


def iso(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (moment.microsecond // 1000)


def usage(input_tokens, output_tokens, cache_create=0, cache_read=0, one_hour=0):
    return {
        "input_tokens": input_tokens,
        "cache_creation_input_tokens": cache_create,
        "cache_read_input_tokens": cache_read,
        "cache_creation": {
            "ephemeral_5m_input_tokens": cache_create - one_hour,
            "ephemeral_1h_input_tokens": one_hour,
        },
        "output_tokens": output_tokens,
        "service_tier": "standard",
    }


class Transcript:
    """One transcript file being written: a session, or a sub-agent transcript of one."""

    def __init__(self, cwd, session_id, start, branch="main", agent_id=None, slug=None,
                 sidechain=False):
        self.cwd = cwd
        self.session_id = session_id
        self.clock = start
        self.branch = branch
        self.agent_id = agent_id
        self.slug = slug
        self.sidechain = sidechain
        self.lines = []
        self.last_uuid = None
        self.counter = 0
        self.prompt_id = None
        self.context = 18000  # tokens already in the conversation, grows as it goes

    # -- plumbing ------------------------------------------------------------------------------

    def tick(self, seconds):
        self.clock += datetime.timedelta(seconds=seconds)

    def next_uuid(self):
        self.counter += 1
        return stable_uuid(self.session_id, self.agent_id or "", self.counter)

    def base(self, record_type, seconds=2.0, parent=True):
        self.tick(seconds)
        line = {
            "parentUuid": self.last_uuid if parent else None,
            "isSidechain": self.sidechain,
            "userType": "external",
            "cwd": self.cwd,
            "sessionId": self.session_id,
            "version": VERSION,
            "gitBranch": self.branch,
        }
        if self.agent_id:
            line["agentId"] = self.agent_id
        if self.slug:
            line["slug"] = self.slug
        line["type"] = record_type
        return line

    def emit(self, line, extra=None):
        line_uuid = self.next_uuid()
        line["uuid"] = line_uuid
        line["timestamp"] = iso(self.clock)
        if extra:
            line.update(extra)
        self.lines.append(line)
        self.last_uuid = line_uuid
        return line_uuid

    def usage_for(self, output_tokens, new_context):
        """Usage of one model call: most of the context comes from the cache."""
        cached = self.context
        self.context += new_context + output_tokens
        return usage(3 + self.counter % 7, output_tokens, new_context, cached)

    # -- user side -----------------------------------------------------------------------------

    def prompt(self, text, seconds=40.0, extra=None):
        self.prompt_id = stable_uuid(self.session_id, "prompt", self.counter)
        line = self.base("user", seconds)
        line["message"] = {"role": "user", "content": text}
        fields = {"promptId": self.prompt_id}
        if extra:
            fields.update(extra)
        return self.emit(line, fields)

    def meta(self, text):
        line = self.base("user", 0.1)
        line["message"] = {"role": "user", "content": text}
        return self.emit(line, {"isMeta": True})

    def command(self, name, args, stdout):
        """A slash command: the command line and the output the program printed for it."""
        line = self.base("user", 20.0)
        line["message"] = {
            "role": "user",
            "content": "<command-name>/%s</command-name>\n            <command-message>%s</command-message>\n"
                       "            <command-args>%s</command-args>" % (name, name, args),
        }
        first = self.emit(line, {"promptId": self.prompt_id} if self.prompt_id else None)
        line = self.base("user", 0.3)
        line["message"] = {"role": "user",
                           "content": "<local-command-stdout>%s</local-command-stdout>" % stdout}
        self.emit(line, {"promptId": self.prompt_id} if self.prompt_id else None)
        return first

    def attachment(self, text, kind="file", path=None):
        line = self.base("attachment", 0.05)
        record = {"type": kind, "prompt": text}
        if path:
            record["filename"] = path
        line["attachment"] = record
        return self.emit(line)

    def system(self, text, subtype="informational"):
        line = self.base("system", 0.2)
        line["subtype"] = subtype
        line["content"] = text
        line["level"] = "info"
        return self.emit(line)

    def tool_result(self, call, content, result=None, is_error=False, seconds=1.5):
        """The user line that carries a tool's answer back to the model."""
        line = self.base("user", seconds)
        item = {"tool_use_id": call["id"], "type": "tool_result", "content": content}
        if is_error:
            item["is_error"] = True
        line["message"] = {"role": "user", "content": [item]}
        extra = {"toolUseResult": result if result is not None else content,
                 "sourceToolAssistantUUID": call["line"]}
        if self.prompt_id:
            extra["promptId"] = self.prompt_id
        return self.emit(line, extra)

    def edit_record(self, call, file_path, old, new, hunks):
        """The record of a file edit that the assistant side keeps beside the tool result."""
        line = self.base("assistant", 0.05)
        line["message"] = {"role": "assistant", "content": []}
        return self.emit(line, {
            "sourceToolAssistantUUID": call["line"],
            "toolUseResult": {"filePath": file_path, "oldString": old, "newString": new,
                              "structuredPatch": hunks, "userModified": False,
                              "replaceAll": False},
        })

    def compact_summary(self, text):
        line = self.base("user", 35.0)
        line["message"] = {"role": "user", "content": text}
        return self.emit(line, {"isCompactSummary": True, "isVisibleInTranscriptOnly": True,
                                "promptId": self.prompt_id})

    # -- assistant side ------------------------------------------------------------------------

    def reply(self, blocks, output_tokens=400, new_context=900, seconds=6.0, skill=None,
              model=MODEL):
        """One model message. Every content block is written as its own line; the lines share
        message.id and repeat the usage, which grows while the message streams in."""
        message_id = stable_token("msg_01", self.session_id, self.agent_id, self.counter)
        request_id = stable_token("req_011", self.session_id, self.agent_id, self.counter)
        final = self.usage_for(output_tokens, new_context)
        calls = []
        for index, block in enumerate(blocks):
            share = (index + 1) / len(blocks)
            line_usage = dict(final)
            line_usage["output_tokens"] = max(1, int(output_tokens * share))
            line = self.base("assistant", seconds if index == 0 else 1.2)
            line["message"] = {"model": model, "id": message_id, "type": "message",
                               "role": "assistant", "content": [block], "stop_reason": None,
                               "stop_sequence": None, "usage": line_usage}
            extra = {"requestId": request_id}
            if skill:
                extra["attributionSkill"] = skill
            line_uuid = self.emit(line, extra)
            if block.get("type") == "tool_use":
                calls.append({"id": block["id"], "line": line_uuid, "name": block["name"]})
        return calls

    def tool_use(self, name, arguments):
        return {"type": "tool_use", "id": stable_token("toolu_01", self.session_id, self.agent_id,
                                                        self.counter, name, json.dumps(arguments)),
                "name": name, "input": arguments}

    # -- output --------------------------------------------------------------------------------

    def write(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="\n") as out:
            for line in self.lines:
                out.write(json.dumps(line, ensure_ascii=False, separators=(",", ":")))
                out.write("\n")


def text(markdown):
    return {"type": "text", "text": markdown}


def thinking(thought):
    return {"type": "thinking", "thinking": thought,
            "signature": stable_token("Eu0B", thought, length=60)}


def hunk(old_start, new_start, lines):
    old_lines = sum(1 for l in lines if not l.startswith("+"))
    new_lines = sum(1 for l in lines if not l.startswith("-"))
    return {"oldStart": old_start, "oldLines": old_lines, "newStart": new_start,
            "newLines": new_lines, "lines": lines}


def write_metadata(directory, tags, annotations):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "TavloMetaData.json"), "w", encoding="utf-8") as out:
        json.dump({"annotations": annotations, "tags": tags, "version": 1}, out, indent=2,
                  sort_keys=True, ensure_ascii=False)
        out.write("\n")
