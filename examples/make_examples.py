#!/usr/bin/env python3
"""Writes the example log root in examples/projects: a few projects of a developer, Alex, who
works on a small weather app (a FastAPI backend and a TypeScript front end), a Rust command-line
tool and their dotfiles.

Run it from anywhere: python3 examples/make_examples.py. The output is committed; the script is
kept so the examples can be changed and written again.
"""

import datetime
import os
import shutil
import sys

sys.dont_write_bytecode = True  # keep the examples folder free of caches

from transcripts import (Transcript, hunk, stable_hex, stable_uuid, text, thinking,
                         write_metadata)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "projects")
HOME = "/home/alex"


def project_dir(cwd):
    return os.path.join(ROOT, cwd.replace("/", "-").replace(".", "-"))


def start(day, hour, minute):
    return datetime.datetime(2025, 11, day, hour, minute, 7, 312000)


# ------------------------------------------------------------------------------------------------
# weather-app: the forecast cache session, with a sub-agent, an aside and a file edit
# ------------------------------------------------------------------------------------------------

PROVIDERS_PY = '''"""Forecast providers. Each one turns a (lat, lon) pair into hourly readings."""

from __future__ import annotations

import httpx

from .models import HourlyReading

OPEN_METEO = "https://api.open-meteo.com/v1/forecast"


class OpenMeteoProvider:
    def __init__(self, client: httpx.AsyncClient) -> None:
        self.client = client

    async def hourly(self, lat: float, lon: float) -> list[HourlyReading]:
        params = {
            "latitude": lat,
            "longitude": lon,
            "hourly": "temperature_2m,precipitation_probability,wind_speed_10m",
            "forecast_days": 2,
        }
        response = await self.client.get(OPEN_METEO, params=params, timeout=10.0)
        response.raise_for_status()
        data = response.json()["hourly"]
        return [
            HourlyReading(time=t, temperature=c, rain_chance=p, wind=w)
            for t, c, p, w in zip(
                data["time"],
                data["temperature_2m"],
                data["precipitation_probability"],
                data["wind_speed_10m"],
            )
        ]
'''

ROUTES_PY = '''from fastapi import APIRouter, Depends, Query

from .deps import get_provider
from .providers import OpenMeteoProvider

router = APIRouter()


@router.get("/forecast")
async def forecast(
    lat: float = Query(..., ge=-90, le=90),
    lon: float = Query(..., ge=-180, le=180),
    provider: OpenMeteoProvider = Depends(get_provider),
):
    readings = await provider.hourly(lat, lon)
    return {"lat": lat, "lon": lon, "hourly": [r.model_dump() for r in readings]}
'''

SLOW_LOG = '''2025-11-03 09:02:11,204 INFO  uvicorn.access 127.0.0.1:52814 - "GET /forecast?lat=52.52&lon=13.405 HTTP/1.1" 200 2731ms
2025-11-03 09:02:12,977 INFO  uvicorn.access 127.0.0.1:52814 - "GET /forecast?lat=52.52&lon=13.405 HTTP/1.1" 200 1688ms
2025-11-03 09:02:14,410 INFO  uvicorn.access 127.0.0.1:52816 - "GET /forecast?lat=52.5201&lon=13.4049 HTTP/1.1" 200 2254ms
2025-11-03 09:02:15,002 WARN  weather.providers retrying open-meteo after ReadTimeout (attempt 1/3)
2025-11-03 09:02:18,733 INFO  uvicorn.access 127.0.0.1:52816 - "GET /forecast?lat=48.8566&lon=2.3522 HTTP/1.1" 200 3120ms
2025-11-03 09:02:19,101 INFO  uvicorn.access 127.0.0.1:52820 - "GET /forecast?lat=48.8566&lon=2.3522 HTTP/1.1" 200 1904ms
2025-11-03 09:02:21,558 INFO  uvicorn.access 127.0.0.1:52820 - "GET /health HTTP/1.1" 200 1ms
2025-11-03 09:02:22,930 INFO  uvicorn.access 127.0.0.1:52822 - "GET /forecast?lat=52.52&lon=13.405 HTTP/1.1" 200 2011ms
2025-11-03 09:02:23,447 INFO  weather.metrics p50=2011ms p95=3120ms upstream_calls=7 cache=<none>
2025-11-03 09:02:24,871 INFO  uvicorn.access 127.0.0.1:52824 - "GET /forecast?lat=40.7128&lon=-74.006 HTTP/1.1" 200 2466ms
2025-11-03 09:02:26,315 INFO  uvicorn.access 127.0.0.1:52824 - "GET /forecast?lat=40.7128&lon=-74.006 HTTP/1.1" 200 1770ms
2025-11-03 09:02:27,062 INFO  uvicorn.access 127.0.0.1:52826 - "GET /forecast?lat=40.71&lon=-74.01 HTTP/1.1" 200 2893ms
2025-11-03 09:02:28,640 INFO  uvicorn.access 127.0.0.1:52826 - "GET /forecast?lat=52.52&lon=13.405 HTTP/1.1" 200 1822ms
2025-11-03 09:02:30,118 INFO  uvicorn.access 127.0.0.1:52828 - "GET /forecast?lat=52.52&lon=13.405 HTTP/1.1" 200 2140ms
2025-11-03 09:02:31,774 INFO  uvicorn.access 127.0.0.1:52828 - "GET /forecast?lat=35.6762&lon=139.6503 HTTP/1.1" 200 2388ms
2025-11-03 09:02:33,205 INFO  uvicorn.access 127.0.0.1:52830 - "GET /forecast?lat=35.6762&lon=139.6503 HTTP/1.1" 200 1996ms
2025-11-03 09:02:34,689 INFO  uvicorn.access 127.0.0.1:52830 - "GET /forecast?lat=52.52&lon=13.405 HTTP/1.1" 200 2307ms
2025-11-03 09:02:35,011 INFO  weather.metrics p50=2140ms p95=2893ms upstream_calls=16 cache=<none> & no rate limit
'''

CACHE_PY = '''"""A small in-process cache for forecasts, keyed by a rounded location."""

from __future__ import annotations

import asyncio
import time
from collections import OrderedDict
from typing import Awaitable, Callable, Generic, TypeVar

T = TypeVar("T")


def location_key(lat: float, lon: float, places: int = 2) -> tuple[float, float]:
    """Points about a kilometre apart share one forecast."""
    return round(lat, places), round(lon, places)


class TTLCache(Generic[T]):
    def __init__(self, ttl: float, max_entries: int = 1024, clock=time.monotonic) -> None:
        self.ttl = ttl
        self.max_entries = max_entries
        self.clock = clock
        self._entries: OrderedDict[tuple, tuple[float, T]] = OrderedDict()
        self._locks: dict[tuple, asyncio.Lock] = {}

    async def get_or_load(self, key: tuple, load: Callable[[], Awaitable[T]]) -> T:
        hit = self._fresh(key)
        if hit is not None:
            return hit
        lock = self._locks.setdefault(key, asyncio.Lock())
        async with lock:  # one upstream call per key, however many requests wait
            hit = self._fresh(key)
            if hit is not None:
                return hit
            value = await load()
            self._entries[key] = (self.clock() + self.ttl, value)
            self._entries.move_to_end(key)
            while len(self._entries) > self.max_entries:
                self._entries.popitem(last=False)
            return value

    def _fresh(self, key: tuple) -> T | None:
        entry = self._entries.get(key)
        if entry is None or entry[0] < self.clock():
            return None
        self._entries.move_to_end(key)
        return entry[1]
'''


def weather_cache_session(directory):
    cwd = HOME + "/src/weather-app"
    sid = "6b1f0c52-8e3d-4f7a-b2c9-1d4e5a6f7b80"
    s = Transcript(cwd, sid, start(3, 9, 4), branch="feature/forecast-cache")

    # Preamble: what the program wrote before the first prompt.
    s.meta("Caveat: The messages below were generated by the user while running local commands. "
           "DO NOT respond to these messages or otherwise consider them in your response unless "
           "the user explicitly asks you to.")
    s.command("model", "sonnet", "Set model to \u001b[1mSonnet 4.5\u001b[22m")
    s.system("SessionStart:startup hook succeeded: loaded 2 project notes from CLAUDE.md")
    s.reply([text("Ready. I've read `CLAUDE.md`: the backend is FastAPI under `backend/weather/`, "
                  "tests run with `uv run pytest`, and the front end lives in `web/`.")],
            output_tokens=48, new_context=4200, seconds=3.0)

    # Exchange 1: the slow endpoint.
    first = s.prompt("The /forecast endpoint takes 2-3 seconds per request, every time, even for the "
                     "same city. Look at @backend/weather/providers.py and the log I pasted and tell me "
                     "what you'd do. Don't change anything yet.\n\nHere's the access log from this morning:")
    s.attachment(PROVIDERS_PY, path="backend/weather/providers.py")
    s.attachment(SLOW_LOG, kind="paste")
    calls = s.reply([
        thinking("Every request goes straight to open-meteo; nothing is cached. Let me check the "
                 "route and whether there is an existing dependency that could hold a cache."),
        text("Every request goes straight upstream. Let me check how the route gets its provider."),
        s.tool_use("Read", {"file_path": cwd + "/backend/weather/routes.py"}),
    ], output_tokens=210, new_context=5400)
    s.tool_result(calls[0], ROUTES_PY, {"type": "text", "file": {
        "filePath": cwd + "/backend/weather/routes.py", "content": ROUTES_PY,
        "numLines": ROUTES_PY.count("\n"), "startLine": 1, "totalLines": ROUTES_PY.count("\n")}})
    calls = s.reply([
        text("I'll have a sub-agent look for other places that call the provider, so the cache "
             "goes in at the right layer."),
        s.tool_use("Task", {"description": "Find forecast provider call sites",
                            "subagent_type": "Explore",
                            "prompt": "In backend/ and web/, find every caller of "
                                      "OpenMeteoProvider.hourly or the /forecast endpoint. Report "
                                      "file:line and whether the caller could tolerate data up to "
                                      "10 minutes old."}),
    ], output_tokens=160, new_context=1300)
    agent_id = stable_hex(sid, "explore")
    task_answer = ("Two callers: `backend/weather/routes.py:17` (the endpoint) and "
                   "`backend/weather/alerts.py:42`, which polls every 15 minutes for storm alerts. "
                   "The web client calls `/forecast` from `web/src/api.ts:9` on every page load and "
                   "on every map pan. All of them tolerate 10-minute-old data.")
    s.tool_result(calls[0], [text(task_answer)], {
        "status": "completed", "prompt": calls[0]["name"], "agentId": agent_id,
        "content": [text(task_answer)], "totalDurationMs": 18342, "totalTokens": 24810,
        "totalToolUseCount": 6}, seconds=19.0)
    s.reply([text('''The time goes to the upstream call: `OpenMeteoProvider.hourly` asks open-meteo on
every request, and nothing remembers the answer. The log shows the same few cities over and over.

| Option | Latency on a hit | Extra moving parts | Stale data | Fits now? |
|---|---:|---|---|:---:|
| In-process TTL cache | < 1 ms | none | up to the TTL | ✅ |
| Redis cache | ~2 ms | a Redis service, a client, config | up to the TTL | later |
| HTTP caching (`Cache-Control`) | 0 ms (browser) | none, but only helps one client | up to `max-age` | ✅ as well |
| Precompute popular cities | < 1 ms | a scheduler, a city list | up to the schedule | ❌ |

What I'd do:

- [ ] Add a `TTLCache` keyed by the location rounded to 2 decimal places (about 1 km), 10-minute TTL
- [ ] Make concurrent misses for one key share a single upstream call
- [ ] Send `Cache-Control: public, max-age=300` from `/forecast`
- [ ] Tests with a fake clock, so nothing sleeps
- [x] Check the other callers (`alerts.py` polls every 15 minutes; it's fine with cached data)

Requests that differ only in the fourth decimal (`52.52` vs `52.5201`) would then share one entry.''')],
            output_tokens=620, new_context=2100, seconds=9.0)

    # Exchange 2: do it.
    second = s.prompt("Go with the in-process TTL cache, 10 minutes, keyed by rounded lat/lon. "
                      "Add the Cache-Control header too.")
    calls = s.reply([
        text("Creating the cache module first."),
        s.tool_use("Write", {"file_path": cwd + "/backend/weather/cache.py", "content": CACHE_PY}),
    ], output_tokens=980, new_context=700)
    s.tool_result(calls[0], "File created successfully at: " + cwd + "/backend/weather/cache.py",
                  {"type": "create", "filePath": cwd + "/backend/weather/cache.py",
                   "content": CACHE_PY, "structuredPatch": []})
    old = '''@router.get("/forecast")
async def forecast(
    lat: float = Query(..., ge=-90, le=90),
    lon: float = Query(..., ge=-180, le=180),
    provider: OpenMeteoProvider = Depends(get_provider),
):
    readings = await provider.hourly(lat, lon)
    return {"lat": lat, "lon": lon, "hourly": [r.model_dump() for r in readings]}'''
    new = '''_forecasts: TTLCache[list] = TTLCache(ttl=600)


@router.get("/forecast")
async def forecast(
    response: Response,
    lat: float = Query(..., ge=-90, le=90),
    lon: float = Query(..., ge=-180, le=180),
    provider: OpenMeteoProvider = Depends(get_provider),
):
    key = location_key(lat, lon)
    readings = await _forecasts.get_or_load(key, lambda: provider.hourly(*key))
    response.headers["Cache-Control"] = "public, max-age=300"
    return {"lat": key[0], "lon": key[1], "hourly": [r.model_dump() for r in readings]}'''
    edit = s.reply([
        text("Now the route: wrap the provider call and set the header."),
        s.tool_use("Edit", {"file_path": cwd + "/backend/weather/routes.py",
                            "old_string": old, "new_string": new}),
    ], output_tokens=540, new_context=1500)
    hunks = [
        hunk(1, 1, [
            "-from fastapi import APIRouter, Depends, Query",
            "+from fastapi import APIRouter, Depends, Query, Response",
            " ",
            "+from .cache import TTLCache, location_key",
            " from .deps import get_provider",
            " from .providers import OpenMeteoProvider",
            " ",
            " router = APIRouter()",
            " ",
            "+_forecasts: TTLCache[list] = TTLCache(ttl=600)",
            "+",
            " ",
        ]),
        hunk(9, 12, [
            ' @router.get("/forecast")',
            " async def forecast(",
            "+    response: Response,",
            "     lat: float = Query(..., ge=-90, le=90),",
            "     lon: float = Query(..., ge=-180, le=180),",
            "     provider: OpenMeteoProvider = Depends(get_provider),",
            " ):",
            "-    readings = await provider.hourly(lat, lon)",
            '-    return {"lat": lat, "lon": lon, "hourly": [r.model_dump() for r in readings]}',
            "+    key = location_key(lat, lon)",
            "+    readings = await _forecasts.get_or_load(key, lambda: provider.hourly(*key))",
            '+    response.headers["Cache-Control"] = "public, max-age=300"',
            '+    return {"lat": key[0], "lon": key[1], "hourly": [r.model_dump() for r in readings]}',
        ]),
    ]
    patch_result = {"filePath": cwd + "/backend/weather/routes.py", "oldString": old,
                    "newString": new, "originalFile": ROUTES_PY, "structuredPatch": hunks,
                    "userModified": False, "replaceAll": False}
    s.tool_result(edit[0], "The file " + cwd + "/backend/weather/routes.py has been updated.",
                  patch_result)
    s.edit_record(edit[0], cwd + "/backend/weather/routes.py", old, new, hunks)
    test_py = '''import asyncio

import pytest

from weather.cache import TTLCache, location_key


class FakeClock:
    def __init__(self):
        self.now = 1000.0

    def __call__(self):
        return self.now


@pytest.mark.asyncio
async def test_hit_within_ttl_and_miss_after():
    clock = FakeClock()
    cache = TTLCache(ttl=600, clock=clock)
    calls = []

    async def load():
        calls.append(1)
        return ["reading"]

    await cache.get_or_load(("a",), load)
    clock.now += 599
    await cache.get_or_load(("a",), load)
    assert len(calls) == 1
    clock.now += 2
    await cache.get_or_load(("a",), load)
    assert len(calls) == 2


@pytest.mark.asyncio
async def test_concurrent_misses_share_one_load():
    cache = TTLCache(ttl=600)
    calls = []

    async def load():
        calls.append(1)
        await asyncio.sleep(0.01)
        return ["reading"]

    await asyncio.gather(*(cache.get_or_load(("b",), load) for _ in range(20)))
    assert len(calls) == 1


def test_nearby_points_share_a_key():
    assert location_key(52.52, 13.405) == location_key(52.5201, 13.4049)
'''
    calls = s.reply([
        s.tool_use("Write", {"file_path": cwd + "/backend/tests/test_cache.py", "content": test_py}),
    ], output_tokens=720, new_context=900)
    s.tool_result(calls[0], "File created successfully at: " + cwd + "/backend/tests/test_cache.py",
                  {"type": "create", "filePath": cwd + "/backend/tests/test_cache.py",
                   "content": test_py, "structuredPatch": []})
    pytest_out = '''============================= test session starts ==============================
platform linux -- Python 3.12.7, pytest-8.3.3, pluggy-1.5.0
rootdir: /home/alex/src/weather-app/backend
plugins: asyncio-0.24.0, anyio-4.6.2
collected 14 items

tests/test_cache.py ...                                                  [ 21%]
tests/test_routes.py .....                                               [ 57%]
tests/test_providers.py ......                                           [100%]

============================== 14 passed in 0.84s ==============================
'''
    calls = s.reply([
        text("Running the backend tests."),
        s.tool_use("Bash", {"command": "cd backend && uv run pytest -q",
                            "description": "Run backend tests"}),
    ], output_tokens=90, new_context=400)
    s.tool_result(calls[0], pytest_out, {"stdout": pytest_out, "stderr": "", "interrupted": False,
                                         "isImage": False})
    s.reply([text('''All 14 tests pass. What changed:

```python
# backend/weather/routes.py
key = location_key(lat, lon)
readings = await _forecasts.get_or_load(key, lambda: provider.hourly(*key))
response.headers["Cache-Control"] = "public, max-age=300"
```

- `backend/weather/cache.py`: `TTLCache` with a per-key `asyncio.Lock`, so twenty requests that
  miss at once make **one** upstream call
- `backend/tests/test_cache.py`: expiry with a fake clock, concurrent misses, key rounding

To see it work locally:

```bash
uv run uvicorn weather.app:app --reload &
for i in 1 2 3; do
  curl -s -o /dev/null -w '%{time_total}s\\n' 'localhost:8000/forecast?lat=52.52&lon=13.405'
done
```

The first call still takes ~2 s; the next two should be a few milliseconds.''')],
            output_tokens=410, new_context=1100, seconds=7.0)
    aside_parent = s.last_uuid

    # A slash command between the exchanges.
    s.command("cost", "", "Total cost:            $0.41\nTotal duration (API):  1m 12s\n"
                          "Total duration (wall): 14m 3s\nTotal code changes:    96 lines added, "
                          "3 lines removed")

    # Exchange 3: changelog, written by a skill.
    third = s.prompt("Write the changelog entry for this and bump the version.")
    calls = s.reply([
        text("Using the changelog skill for the entry."),
        s.tool_use("Skill", {"command": "changelog"}),
    ], output_tokens=70, new_context=300, skill="changelog")
    s.tool_result(calls[0], "Launching skill: changelog", {"success": True,
                                                          "commandName": "changelog"})
    s.meta("Base directory for this skill: /home/alex/.claude/skills/changelog\n\n"
           "Write entries in Keep a Changelog style, newest first, one line per change, "
           "present tense.")
    calls = s.reply([
        s.tool_use("Edit", {"file_path": cwd + "/CHANGELOG.md",
                            "old_string": "## [Unreleased]\n",
                            "new_string": "## [Unreleased]\n\n## [0.7.0] - 2025-11-03\n\n### Added\n"
                                          "- Cache forecasts for 10 minutes per location (~1 km "
                                          "grid), and send `Cache-Control: max-age=300`.\n"}),
    ], output_tokens=260, new_context=600, skill="changelog")
    s.tool_result(calls[0], "The file " + cwd + "/CHANGELOG.md has been updated.",
                  {"filePath": cwd + "/CHANGELOG.md", "structuredPatch": [hunk(1, 1, [
                      " ## [Unreleased]", "+", "+## [0.7.0] - 2025-11-03", "+", "+### Added",
                      "+- Cache forecasts for 10 minutes per location (~1 km grid), and send "
                      "`Cache-Control: max-age=300`."])]})
    calls = s.reply([
        s.tool_use("Bash", {"command": "sed -i 's/^version = \"0.6.2\"/version = \"0.7.0\"/' "
                                       "backend/pyproject.toml && git diff --stat",
                            "description": "Bump version"}),
    ], output_tokens=120, new_context=200, skill="changelog")
    s.tool_result(calls[0], " CHANGELOG.md           | 5 +++++\n backend/pyproject.toml | 2 +-\n"
                            " 2 files changed, 6 insertions(+), 1 deletion(-)",
                  {"stdout": " CHANGELOG.md           | 5 +++++\n backend/pyproject.toml | 2 +-\n"
                             " 2 files changed, 6 insertions(+), 1 deletion(-)",
                   "stderr": "", "interrupted": False, "isImage": False})
    s.reply([text('''Done:

```markdown
## [0.7.0] - 2025-11-03

### Added
- Cache forecasts for 10 minutes per location (~1 km grid), and send `Cache-Control: max-age=300`.
```

and `backend/pyproject.toml` now says `version = "0.7.0"`. I haven't committed anything.''')],
            output_tokens=150, new_context=400, skill="changelog")
    s.write(os.path.join(directory, sid + ".jsonl"))

    # The sub-agent that looked for call sites.
    agent = Transcript(cwd, sid, start(3, 9, 6), branch="feature/forecast-cache", agent_id=agent_id,
                       slug="find-forecast-callers", sidechain=True)
    agent.context = 9000
    agent.prompt("In backend/ and web/, find every caller of OpenMeteoProvider.hourly or the "
                 "/forecast endpoint. Report file:line and whether the caller could tolerate data "
                 "up to 10 minutes old.", seconds=1.0)
    grep_out = ("backend/weather/routes.py:17:    readings = await provider.hourly(lat, lon)\n"
                "backend/weather/alerts.py:42:        readings = await self.provider.hourly("
                "site.lat, site.lon)\nweb/src/api.ts:9:  const res = await fetch(`/forecast?lat="
                "${lat}&lon=${lon}`);")
    calls = agent.reply([agent.tool_use("Grep", {"pattern": r"hourly\(|/forecast",
                                                 "path": cwd, "output_mode": "content", "-n": True})],
                        output_tokens=80, new_context=600, model="claude-haiku-4-5-20251001")
    agent.tool_result(calls[0], grep_out, {"mode": "content", "numFiles": 3, "content": grep_out,
                                           "numLines": 3})
    calls = agent.reply([agent.tool_use("Read", {"file_path": cwd + "/backend/weather/alerts.py",
                                                 "offset": 30, "limit": 20})],
                        output_tokens=60, new_context=300, model="claude-haiku-4-5-20251001")
    alerts = ('    async def poll(self) -> None:\n        """Runs every 15 minutes from the '
              'scheduler."""\n        for site in self.sites:\n            readings = await '
              'self.provider.hourly(site.lat, site.lon)\n            self.check_storms(site, '
              'readings)\n')
    agent.tool_result(calls[0], alerts, {"type": "text", "file": {
        "filePath": cwd + "/backend/weather/alerts.py", "content": alerts, "numLines": 5,
        "startLine": 38, "totalLines": 61}})
    agent.reply([text(task_answer)], output_tokens=140, new_context=500,
                model="claude-haiku-4-5-20251001")
    agent.write(os.path.join(directory, sid, "subagents", "agent-%s.jsonl" % agent_id))

    # An aside question asked while the tests ran.
    aside_id = stable_hex(sid, "aside")
    aside = Transcript(cwd, sid, start(3, 9, 21), branch="feature/forecast-cache",
                       agent_id=aside_id, slug="lock-per-key", sidechain=True)
    aside.context = 30000
    question = aside.prompt("Quick question: doesn't the `_locks` dict grow forever?", seconds=1.0)
    aside.lines[-1]["logicalParentUuid"] = aside_parent
    aside.reply([text('''It does, slowly: one `asyncio.Lock` per key ever requested, and nothing
removes them. With a 2-decimal grid that's bounded by the places people actually look at, so it
won't matter for a while, but it's easy to tie the locks to the entries:

```python
while len(self._entries) > self.max_entries:
    old_key, _ = self._entries.popitem(last=False)
    self._locks.pop(old_key, None)
```

A lock that's dropped while someone holds it is still fine: the holder keeps its reference.''')],
                output_tokens=230, new_context=200)
    assert question
    aside.write(os.path.join(directory, sid, "subagents", "agent-aside_question-%s.jsonl" % aside_id))
    return {"first": first, "second": second, "third": third}


# ------------------------------------------------------------------------------------------------
# weather-app: the hourly chart session, which ran out of context and was compacted
# ------------------------------------------------------------------------------------------------

CHART_TS = '''import { Chart, LineController, LineElement, PointElement, LinearScale, TimeScale } from "chart.js";
import "chartjs-adapter-date-fns";
import type { HourlyReading } from "./api";

Chart.register(LineController, LineElement, PointElement, LinearScale, TimeScale);

export function renderHourly(canvas: HTMLCanvasElement, readings: HourlyReading[]): Chart {
  return new Chart(canvas, {
    type: "line",
    data: {
      datasets: [
        {
          label: "°C",
          data: readings.map((r) => ({ x: Date.parse(r.time), y: r.temperature })),
          borderColor: "#f59e0b",
          tension: 0.3,
          yAxisID: "temp",
        },
        {
          label: "Rain %",
          data: readings.map((r) => ({ x: Date.parse(r.time), y: r.rain_chance })),
          borderColor: "#3b82f6",
          borderDash: [4, 4],
          yAxisID: "rain",
        },
      ],
    },
    options: {
      animation: false,
      scales: {
        x: { type: "time", time: { unit: "hour", displayFormats: { hour: "HH:mm" } } },
        temp: { position: "left" },
        rain: { position: "right", min: 0, max: 100, grid: { drawOnChartArea: false } },
      },
    },
  });
}
'''


def weather_chart_session(directory):
    cwd = HOME + "/src/weather-app"
    sid = "a4c7e913-52d0-4b6e-8f21-c3b9d0e6f4a2"
    s = Transcript(cwd, sid, start(4, 14, 30), branch="feature/hourly-chart")
    s.context = 22000

    first = s.prompt("Add an hourly chart under the current conditions card: temperature as a line, "
                     "rain chance as a dashed line on a second axis. We already depend on chart.js.")
    calls = s.reply([
        text("Let me look at how the card is rendered now."),
        s.tool_use("Glob", {"pattern": "web/src/**/*.ts"}),
    ], output_tokens=70, new_context=1200)
    files = "web/src/api.ts\nweb/src/main.ts\nweb/src/card.ts\nweb/src/units.ts"
    s.tool_result(calls[0], files, {"filenames": files.split("\n"), "durationMs": 12,
                                    "numFiles": 4, "truncated": False})
    calls = s.reply([s.tool_use("Write", {"file_path": cwd + "/web/src/chart.ts",
                                          "content": CHART_TS})],
                    output_tokens=900, new_context=2600)
    s.tool_result(calls[0], "File created successfully at: " + cwd + "/web/src/chart.ts",
                  {"type": "create", "filePath": cwd + "/web/src/chart.ts", "content": CHART_TS,
                   "structuredPatch": []})
    s.reply([text('''Added `web/src/chart.ts`:

```typescript
export function renderHourly(canvas: HTMLCanvasElement, readings: HourlyReading[]): Chart
```

Two datasets on two y axes; the rain axis is fixed to 0–100 and draws no grid, so the chart stays
readable. Call it from `card.ts` after the card renders:

```typescript
const canvas = card.querySelector<HTMLCanvasElement>("canvas.hourly")!;
renderHourly(canvas, forecast.hourly.slice(0, 24));
```''')], output_tokens=260, new_context=700)

    second = s.prompt("The x axis labels overlap on mobile. Also the tooltip shows a raw timestamp.")
    s.reply([text('''Two small option changes fix both:

```typescript
x: {
  type: "time",
  time: { unit: "hour", displayFormats: { hour: "HH:mm" }, tooltipFormat: "EEE HH:mm" },
  ticks: { maxTicksLimit: window.innerWidth < 480 ? 6 : 12, maxRotation: 0 },
},
```

| Setting | Before | After |
|---|---|---|
| ticks on a phone | 24 | 6 |
| tick rotation | up to 50° | 0° |
| tooltip title | `1762264800000` | `Tue 15:00` |''')], output_tokens=330, new_context=500)

    third = s.prompt("Now make it respect the °C/°F toggle from units.ts, and redraw when it changes.")
    calls = s.reply([
        thinking("units.ts exports a store with subscribe(); convert in the dataset mapping and "
                 "call chart.update() from the subscription."),
        s.tool_use("Read", {"file_path": cwd + "/web/src/units.ts"}),
    ], output_tokens=120, new_context=900)
    units = '''type Unit = "C" | "F";
let current: Unit = (localStorage.getItem("unit") as Unit) ?? "C";
const listeners = new Set<(u: Unit) => void>();

export const units = {
  get: () => current,
  set(u: Unit) {
    current = u;
    localStorage.setItem("unit", u);
    listeners.forEach((l) => l(u));
  },
  subscribe(l: (u: Unit) => void) {
    listeners.add(l);
    return () => listeners.delete(l);
  },
};

export const toF = (c: number) => (c * 9) / 5 + 32;
'''
    s.tool_result(calls[0], units, {"type": "text", "file": {
        "filePath": cwd + "/web/src/units.ts", "content": units, "numLines": 19,
        "startLine": 1, "totalLines": 19}})
    s.reply([text('''`units` has a `subscribe`, so the chart can follow it:

```typescript
const temp = (c: number) => (units.get() === "F" ? toF(c) : c);
const unsubscribe = units.subscribe(() => {
  chart.data.datasets[0].data = readings.map((r) => ({ x: Date.parse(r.time), y: temp(r.temperature) }));
  chart.data.datasets[0].label = units.get() === "F" ? "°F" : "°C";
  chart.update("none");
});
```

`renderHourly` now returns `{ chart, dispose }`, and `dispose()` both unsubscribes and destroys
the chart, so re-rendering the card doesn't leak listeners.''')],
            output_tokens=480, new_context=1800)

    # The context filled up; the user compacted.
    compact_prompt = s.prompt_id = stable_uuid(sid, "compact-prompt")
    s.command("compact", "keep the chart decisions and the open TODOs",
              "\u001b[2mCompacted (ctrl+o to see full summary)\u001b[22m")
    summary = s.compact_summary(
        "This session is being continued from a previous conversation that ran out of context. "
        "The conversation is summarized below:\n\nAnalysis:\nThe user asked for an hourly "
        "temperature and rain chart in the web front end...\n\nSummary:\n1. Primary Request: an "
        "hourly chart under the conditions card (web/src/chart.ts, chart.js, two y axes).\n2. "
        "Decisions: 6 ticks on narrow screens, tooltip format EEE HH:mm, unit toggle via "
        "units.subscribe, renderHourly returns { chart, dispose }.\n3. Pending: dark-mode colours, "
        "a test for dispose().")
    s.context = 6000

    fourth = s.prompt("Colours look washed out in dark mode. Pick colours from our CSS variables "
                      "instead of hard-coding them.")
    s.reply([text('''Reading them at render time keeps the chart in step with the theme:

```typescript
const css = getComputedStyle(document.documentElement);
const colour = (name: string) => css.getPropertyValue(name).trim();

borderColor: colour("--accent-warm"),   // temperature
borderColor: colour("--accent-cool"),   // rain
```

and in `theme.css`:

```css
:root            { --accent-warm: #d97706; --accent-cool: #2563eb; }
[data-theme=dark] { --accent-warm: #fbbf24; --accent-cool: #60a5fa; }
```

- [x] temperature and rain lines
- [x] grid lines (`--border-subtle`)
- [ ] the tooltip background still uses chart.js defaults''')], output_tokens=380, new_context=900)
    s.write(os.path.join(directory, sid + ".jsonl"))

    # The compaction run itself, a transcript of its own.
    compaction_id = stable_hex(sid, "compact", length=7)
    c = Transcript(cwd, sid, start(4, 15, 2), branch="feature/hourly-chart",
                   agent_id="acompact-" + compaction_id, sidechain=True)
    c.context = 0
    c.prompt_id = compact_prompt
    line = c.base("user", 1.0, parent=False)
    line["message"] = {"role": "user", "content": "Your task is to create a detailed summary of the "
                       "conversation so far, paying close attention to the user's explicit "
                       "requests and your previous actions. Additional instructions: keep the "
                       "chart decisions and the open TODOs"}
    c.emit(line, {"promptId": compact_prompt})
    c.reply([thinking("Walk through the conversation chronologically: the chart, the mobile axis, "
                      "the unit toggle.")], output_tokens=300, new_context=0, seconds=4.0)
    c.lines[-1]["message"]["usage"]["input_tokens"] = 8
    c.lines[-1]["message"]["usage"]["cache_read_input_tokens"] = 0
    c.lines[-1]["message"]["usage"]["cache_creation_input_tokens"] = 0
    c.lines[-1]["message"]["usage"]["cache_creation"] = {"ephemeral_5m_input_tokens": 0,
                                                         "ephemeral_1h_input_tokens": 0}
    c.reply([text("Analysis:\nThe user asked for an hourly temperature and rain chart...\n\n"
                  "Summary:\n1. Primary Request: an hourly chart under the conditions card.")],
            output_tokens=1480, new_context=0, seconds=21.0)
    final = c.lines[-1]["message"]["usage"]
    final.update({"input_tokens": 10, "cache_creation_input_tokens": 0,
                  "cache_read_input_tokens": 31614,
                  "cache_creation": {"ephemeral_5m_input_tokens": 0,
                                     "ephemeral_1h_input_tokens": 0}})
    c.write(os.path.join(directory, sid, "subagents", "agent-acompact-%s.jsonl" % compaction_id))
    return {"first": first, "second": second, "third": third, "fourth": fourth,
            "summary": summary}


# ------------------------------------------------------------------------------------------------
# weather-app--offline-mode: a worktree for the offline mode, shown as a subproject
# ------------------------------------------------------------------------------------------------

def offline_session(directory):
    cwd = HOME + "/src/weather-app--offline-mode"
    sid = "e0d3b6a8-91f4-4c2e-a7d5-3b8f1c6e9d04"
    s = Transcript(cwd, sid, start(5, 10, 15), branch="offline-mode")
    first = s.prompt("In this worktree I want the web app to keep working offline with the last "
                     "forecast it saw. Service worker, cache-first for /forecast, network-first "
                     "for everything else?")
    s.reply([text('''Close, but I'd flip it for the forecast: **network first with a timeout**, falling
back to the cache. Cache-first would show a stale forecast even when you're online.

```javascript
// web/public/sw.js
const FORECASTS = "forecasts-v1";

self.addEventListener("fetch", (event) => {
  const url = new URL(event.request.url);
  if (url.pathname !== "/forecast") return;
  event.respondWith(networkThenCache(event.request));
});

async function networkThenCache(request) {
  const cache = await caches.open(FORECASTS);
  try {
    const response = await fetchWithTimeout(request, 3000);
    cache.put(request, response.clone());
    return response;
  } catch {
    const cached = await cache.match(request, { ignoreSearch: false });
    return cached ?? Response.json({ offline: true }, { status: 503 });
  }
}
```

| Request | Online | Offline |
|---|---|---|
| `/forecast` | network (3 s timeout), then cache | cache, or a 503 with `{"offline": true}` |
| app shell (HTML, JS, CSS) | cache, refreshed in the background | cache |
| map tiles | network only | not shown |

Shall I add the registration in `main.ts` and an "offline, showing data from 10:42" banner?''')],
            output_tokens=690, new_context=2400)
    second = s.prompt("Yes, both.")
    calls = s.reply([
        text("Adding the registration."),
        s.tool_use("Edit", {"file_path": cwd + "/web/src/main.ts",
                            "old_string": "mount(document.querySelector(\"#app\")!);",
                            "new_string": "mount(document.querySelector(\"#app\")!);\n\nif "
                                          "(\"serviceWorker\" in navigator) {\n  navigator."
                                          "serviceWorker.register(\"/sw.js\");\n}"}),
    ], output_tokens=190, new_context=800)
    hunks = [hunk(22, 22, [
        ' mount(document.querySelector("#app")!);',
        "+",
        '+if ("serviceWorker" in navigator) {',
        '+  navigator.serviceWorker.register("/sw.js");',
        "+}",
    ])]
    s.tool_result(calls[0], "The file " + cwd + "/web/src/main.ts has been updated.",
                  {"filePath": cwd + "/web/src/main.ts", "structuredPatch": hunks})
    s.edit_record(calls[0], cwd + "/web/src/main.ts", "", "", hunks)
    s.reply([text('''Registered in `main.ts`. For the banner, the page learns it's offline from the
503 body:

```typescript
if (body.offline) {
  banner.show(`Offline — showing data from ${formatTime(lastFetched)}`);
}
```

To try it: open DevTools → Application → Service Workers, tick **Offline**, reload.''')],
            output_tokens=240, new_context=500)
    s.write(os.path.join(directory, sid + ".jsonl"))
    return {"first": first, "second": second}


# ------------------------------------------------------------------------------------------------
# ledger-cli: a Rust tool that imports bank CSV exports
# ------------------------------------------------------------------------------------------------

def ledger_import_session(directory):
    cwd = HOME + "/src/ledger-cli"
    sid = "3e9a1f27-6c48-4d0b-9e15-8a2f7c4b6d31"
    s = Transcript(cwd, sid, start(1, 20, 40))
    first = s.prompt("My bank's CSV export uses semicolons and a comma as the decimal separator "
                     "(\"-1.234,56\"). `ledger import` chokes on it. Can you make the importer "
                     "handle both formats?")
    calls = s.reply([
        text("Let me look at the importer and a sample."),
        s.tool_use("Bash", {"command": "head -5 samples/dkb-2025-10.csv && grep -n 'fn parse_amount'"
                                       " -A 12 src/import.rs", "description": "Show sample and parser"}),
    ], output_tokens=95, new_context=3100)
    out = ('"Buchungsdatum";"Empfänger";"Verwendungszweck";"Betrag (€)"\n'
           '"01.10.25";"REWE Markt";"Einkauf";"-42,17"\n'
           '"02.10.25";"Stadtwerke";"Abschlag Strom";"-1.234,56"\n'
           '"03.10.25";"Arbeitgeber GmbH";"Gehalt Oktober";"3.180,00"\n'
           '"05.10.25";"Bäckerei Lindner";"";"-6,40"\n'
           '31:fn parse_amount(s: &str) -> Result<i64, ImportError> {\n'
           '32-    let value: f64 = s.trim().parse().map_err(|_| ImportError::Amount(s.into()))?;\n'
           '33-    Ok((value * 100.0).round() as i64)\n'
           '34-}')
    s.tool_result(calls[0], out, {"stdout": out, "stderr": "", "interrupted": False,
                                  "isImage": False})
    s.reply([text('''Two problems: the delimiter is hard-coded to `,`, and `parse_amount` goes through
`f64`, which can't read `1.234,56` and would round cents on large amounts anyway. I'd parse the
amount as integer cents directly and detect the format from the header line:

```rust
/// Parses "1.234,56", "-42,17", "1,234.56" or "12.5" into cents.
pub fn parse_amount(raw: &str) -> Result<i64, ImportError> {
    let s = raw.trim().trim_matches('"');
    let decimal = match (s.rfind(','), s.rfind('.')) {
        (Some(c), Some(d)) => if c > d { ',' } else { '.' },
        (Some(c), None) if s.len() - c == 3 => ',',
        _ => '.',
    };
    let (units, cents) = match s.rsplit_once(decimal) {
        Some((u, c)) => (u, format!("{c:0<2}")),
        None => (s, "00".to_string()),
    };
    let units: String = units.chars().filter(|c| c.is_ascii_digit() || *c == '-').collect();
    let value: i64 = format!("{units}{}", &cents[..2])
        .parse()
        .map_err(|_| ImportError::Amount(raw.into()))?;
    Ok(value)
}
```

| Input | Result (cents) |
|---|---:|
| `-42,17` | -4217 |
| `-1.234,56` | -123456 |
| `3.180,00` | 318000 |
| `1,234.56` | 123456 |
| `12.5` | 1250 |

The delimiter: count `;` and `,` in the header and take the more frequent one. Want me to apply it?''')],
            output_tokens=880, new_context=1900)
    second = s.prompt("Yes. And add tests for the table you just wrote.")
    calls = s.reply([s.tool_use("Bash", {"command": "cargo test import:: 2>&1 | tail -15",
                                         "description": "Run importer tests"})],
                    output_tokens=1300, new_context=1400)
    out = ('   Compiling ledger-cli v0.4.1 (/home/alex/src/ledger-cli)\n'
           '    Finished `test` profile [unoptimized + debuginfo] target(s) in 3.42s\n'
           '     Running unittests src/main.rs (target/debug/deps/ledger-9f1c2a7b3e4d5f60)\n\n'
           'running 7 tests\n'
           'test import::tests::amount_german_thousands ... ok\n'
           'test import::tests::amount_german_negative ... ok\n'
           'test import::tests::amount_english ... ok\n'
           'test import::tests::amount_one_decimal ... ok\n'
           'test import::tests::amount_rejects_text ... ok\n'
           'test import::tests::detects_semicolon_header ... ok\n'
           'test import::tests::imports_dkb_sample ... ok\n\n'
           'test result: ok. 7 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out; '
           'finished in 0.01s')
    s.tool_result(calls[0], out, {"stdout": out, "stderr": "", "interrupted": False,
                                  "isImage": False})
    s.reply([text('''All 7 pass, including an end-to-end import of `samples/dkb-2025-10.csv`:

```rust
#[test]
fn amount_german_thousands() {
    assert_eq!(parse_amount("-1.234,56").unwrap(), -123_456);
}

#[test]
fn imports_dkb_sample() {
    let txns = import(Path::new("samples/dkb-2025-10.csv")).unwrap();
    assert_eq!(txns.len(), 4);
    assert_eq!(txns.iter().map(|t| t.cents).sum::<i64>(), 318_000 - 4_217 - 123_456 - 640);
}
```

```console
$ cargo run -q -- import samples/dkb-2025-10.csv
4 transactions, balance change +1.896,87 €
```''')], output_tokens=420, new_context=700)
    s.write(os.path.join(directory, sid + ".jsonl"))
    return {"first": first, "second": second}


def ledger_report_session(directory):
    cwd = HOME + "/src/ledger-cli"
    sid = "9b2d4e60-17a3-4f85-b0c9-e6d1a8f3c257"
    s = Transcript(cwd, sid, start(6, 19, 5))
    first = s.prompt("Add `ledger report --by month` that prints spending per category per month "
                     "as a table. Keep it plain text.")
    s.reply([text('''Here's the shape I'd go for; categories come from the rules file you already have.

```rust
pub fn by_month(txns: &[Transaction], rules: &Rules) -> BTreeMap<(YearMonth, String), i64> {
    let mut totals = BTreeMap::new();
    for t in txns.iter().filter(|t| t.cents < 0) {
        let category = rules.category_for(t).unwrap_or("uncategorised").to_string();
        *totals.entry((t.date.year_month(), category)).or_insert(0) += -t.cents;
    }
    totals
}
```

Output:

```text
month     groceries   utilities   eating out   uncategorised
2025-09     312,40 €    1.234,56 €     86,10 €          12,00 €
2025-10     298,75 €    1.234,56 €    112,30 €           6,40 €
```

Columns are sorted by total spend, widest first. Should months with no spending show as empty rows?''')],
            output_tokens=560, new_context=2800)
    second = s.prompt("No, skip empty months. Ship it.")
    s.reply([text("Done — `ledger report --by month` skips months without spending, and "
                  "`cargo test` passes (11 tests).")], output_tokens=60, new_context=2200)
    s.write(os.path.join(directory, sid + ".jsonl"))
    return {"first": first, "second": second}


# ------------------------------------------------------------------------------------------------
# dotfiles: a short session whose preamble carries no usage
# ------------------------------------------------------------------------------------------------

def dotfiles_session(directory):
    cwd = HOME + "/dotfiles"
    sid = "c81f5a3d-0e27-4b96-8d4a-59e2b7c1f608"
    s = Transcript(cwd, sid, start(2, 8, 12))
    s.meta("Caveat: The messages below were generated by the user while running local commands. "
           "DO NOT respond to these messages or otherwise consider them in your response unless "
           "the user explicitly asks you to.")
    s.command("clear", "", "")
    first = s.prompt("My zsh takes almost a second to start. Here's `zprof` output, what's slow?\n\n"
                     "num  calls                time                       self            name\n"
                     " 1)    1         612.41   612.41   71.32%    612.41   71.32%  nvm_auto\n"
                     " 2)    2         148.02    74.01   17.24%    148.02   17.24%  compinit\n"
                     " 3)    1          41.77    41.77    4.86%     41.77    4.86%  _pyenv_init")
    s.reply([text('''`nvm` is most of it: `nvm_auto` runs the whole of `nvm.sh` at every start. Load it
lazily, on the first call of `node`, `npm` or `nvm`:

```zsh
# ~/.zshrc
export NVM_DIR="$HOME/.nvm"
lazy_nvm() {
  unset -f node npm npx nvm
  source "$NVM_DIR/nvm.sh"
}
for cmd in node npm npx nvm; do
  eval "$cmd() { lazy_nvm; $cmd \\"\\$@\\" }"
done
```

And let `compinit` check its cache once a day instead of at every start:

```zsh
autoload -Uz compinit
if [[ -n ~/.zcompdump(#qN.mh+24) ]]; then compinit; else compinit -C; fi
```

| Step | Before | After |
|---|---:|---:|
| nvm | 612 ms | 0 ms (until first use) |
| compinit | 148 ms | ~9 ms |
| total start | ~860 ms | ~90 ms |''')], output_tokens=520, new_context=1600)
    second = s.prompt("Nice, 84 ms now. Commit it with a sensible message.")
    calls = s.reply([s.tool_use("Bash", {"command": "git commit -am 'zsh: load nvm lazily, check "
                                                    "the compinit cache daily'",
                                         "description": "Commit zshrc"})],
                    output_tokens=60, new_context=300)
    out = "[main 4f2c9e1] zsh: load nvm lazily, check the compinit cache daily\n 1 file changed, 12 insertions(+), 2 deletions(-)"
    s.tool_result(calls[0], out, {"stdout": out, "stderr": "", "interrupted": False,
                                  "isImage": False})
    s.reply([text("Committed as `4f2c9e1`.")], output_tokens=12, new_context=100)
    s.write(os.path.join(directory, sid + ".jsonl"))
    return {"first": first, "second": second}


def main():
    if os.path.isdir(ROOT):
        shutil.rmtree(ROOT)

    weather = project_dir(HOME + "/src/weather-app")
    cache = weather_cache_session(weather)
    chart = weather_chart_session(weather)
    write_metadata(weather,
                   tags={cache["first"]: [3], cache["second"]: [1, 5], chart["fourth"]: [2],
                         chart["third"]: [5]},
                   annotations={cache["second"]: "Cache design we shipped in 0.7.0. The per-key "
                                                 "lock matters: see the aside.",
                                chart["fourth"]: "TODO: tooltip background in dark mode."})

    offline = project_dir(HOME + "/src/weather-app--offline-mode")
    offline_ids = offline_session(offline)
    write_metadata(offline, tags={offline_ids["first"]: [4]}, annotations={})

    ledger = project_dir(HOME + "/src/ledger-cli")
    imported = ledger_import_session(ledger)
    ledger_report_session(ledger)
    write_metadata(ledger, tags={imported["first"]: [6, 3]},
                   annotations={imported["first"]: "Amounts are integer cents from here on."})

    dotfiles_session(project_dir(HOME + "/dotfiles"))


if __name__ == "__main__":
    main()
