# Sourced by the benchmark scripts: median_ms COMMAND prints the median wall
# time of five runs of a shell command, in milliseconds.
median_ms() {
  python3 - "$1" <<'PY'
import statistics, subprocess, sys, time
times = []
for _ in range(5):
    start = time.perf_counter()
    subprocess.run(sys.argv[1], shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append((time.perf_counter() - start) * 1000)
print(f"{statistics.median(times):.0f}")
PY
}
