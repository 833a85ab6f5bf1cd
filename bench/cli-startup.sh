#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up cost and review overhead of the `norik` command line, reported as medians.
#   bench/cli-startup.sh [BUILD_DIR] [RUNS]      BUILD_DIR defaults to build/h-cli-rel (a Release build)
# - `norik --version`, from exec to exit; target: a median of at most 20 ms.
# - `norik review` against a local HTTP server that answers in the Ollama format after a fixed delay, with the
#   history recorded as usual: the wall time minus that delay; target: a median of at most 50 ms. The same
#   without recording shows what the durable history commit costs.
# The runs share a temporary HOME and XDG folders. The session bus is left as it is, so running this under
# scripts/with-test-session includes the keyring look-up that a desktop session has.
set -euo pipefail

build=${1:-build/h-cli-rel}
runs=${2:-40}
norik="$build/src/cli/norik"
if [[ ! -x "$norik" ]]; then
    echo "cli-startup: $norik not found; build it first, e.g." >&2
    echo "  cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORIK_BUILD_TESTS=OFF" >&2
    echo "  cmake --build $build --target norik" >&2
    exit 1
fi

exec python3 - "$norik" "$runs" <<'PYTHON'
import http.server
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

norik, runs = sys.argv[1], int(sys.argv[2])
reply_delay = 0.200  # seconds the server waits before it answers, like a quick model

review = {
    "language": "en",
    "corrected": "I have an apple.",
    "improved": "I've got an apple.",
    "issues": [{"excerpt": "I has", "explanation": "The verb agrees with its subject.", "category": "grammar"}],
    "score": 4,
}
body = json.dumps({"message": {"role": "assistant", "content": json.dumps(review)}, "done": True}).encode()


class OllamaStandIn(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        time.sleep(reply_delay)
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), OllamaStandIn)
threading.Thread(target=server.serve_forever, daemon=True).start()
endpoint = f"http://127.0.0.1:{server.server_address[1]}"


def timed(arguments, environment):
    start = time.perf_counter()
    completed = subprocess.run(arguments, env=environment, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if completed.returncode != 0:
        sys.exit(f"cli-startup: {' '.join(arguments)} failed ({completed.returncode}): {completed.stderr.decode()}")
    return elapsed


def measure(arguments, count):
    """Wall times of `count` runs in one temporary HOME, after three runs that create the stores and warm the
    page cache, so that what is measured is a review by a user who has used Norik before."""
    times = []
    with tempfile.TemporaryDirectory(prefix="norik-bench-") as root:
        environment = dict(os.environ)
        for name, folder in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data")):
            environment[name] = os.path.join(root, folder)
            os.makedirs(environment[name])
        for index in range(count + 3):
            elapsed = timed(arguments, environment)
            if index >= 3:
                times.append(elapsed)
    return times


def report(name, times, subtract, target):
    median = (statistics.median(times) - subtract) * 1000
    p90 = (statistics.quantiles(times, n=10)[-1] - subtract) * 1000
    verdict = "ok" if median <= target else "OVER TARGET"
    print(f"{name:<34} median {median:6.1f} ms   p90 {p90:6.1f} ms   target <= {target} ms: {verdict}")


harness = measure(["/bin/true"], runs)
version = measure([norik, "--version"], runs)
review = [norik, "review", "--provider", "local", "--endpoint", endpoint, "--model", "bench", "I has a apple"]
reviews = measure(review, max(10, runs // 2))
unrecorded = measure(review + ["--no-history"], max(10, runs // 2))

print(f"runs: {runs}; process start-up of /bin/true in this harness: median "
      f"{statistics.median(harness) * 1000:.1f} ms (included below)")
report("norik --version", version, 0.0, 20)
report(f"norik review, beyond a {reply_delay * 1000:.0f} ms reply", reviews, reply_delay, 50)
report("  the same with --no-history", unrecorded, reply_delay, 50)
PYTHON
