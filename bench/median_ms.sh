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

# medians_ms RUNS COMMAND... runs the commands by turns, RUNS rounds, and
# prints each one's median wall time in milliseconds, on one line: ratios
# between them then see the same state of a shared, noisy machine.
medians_ms() {
  python3 - "$@" <<'PY'
import statistics, subprocess, sys, time
runs, commands = int(sys.argv[1]), sys.argv[2:]
times = [[] for _ in commands]
for _ in range(runs):
    for i, command in enumerate(commands):
        start = time.perf_counter()
        subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[i].append((time.perf_counter() - start) * 1000)
print(" ".join(f"{statistics.median(t):.0f}" for t in times))
PY
}
