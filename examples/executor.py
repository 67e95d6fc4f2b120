"""An expensive objective (a 20 ms "simulation") evaluated through a process pool: the run is
the same as the serial one, only faster.

    python examples/executor.py
"""

import concurrent.futures as cf
import time

import velmo as vo


def simulation(x):
    time.sleep(0.02)  # stands for seconds of real work
    return sum((v - 0.3) ** 2 for v in x)


if __name__ == "__main__":
    box = [(-1, 1)] * 4
    t0 = time.perf_counter()
    serial = vo.solve_cmaes(simulation, box, variant="full", pop_size=16, max_generations=8)
    t1 = time.perf_counter()
    with cf.ProcessPoolExecutor(max_workers=8) as pool:
        parallel = vo.solve_cmaes(simulation, box, variant="full", pop_size=16, max_generations=8, executor=pool)
    t2 = time.perf_counter()
    print(serial)
    print(parallel)
    print(f"same run: {serial.x == parallel.x and serial.history == parallel.history}; "
          f"serial {t1 - t0:.2f}s, 8 processes {t2 - t1:.2f}s")
