#!/bin/bash
# One task of a Slurm job array (docs/slurm-job-array.md). Submit it from the run's folder, which
# holds the parts part.000, part.001 ... of the list and an empty results/: task N tests part.N
# and its JSON lines go to results/part.N.jsonl. Give --cpus-per-task and --mem on the sbatch
# command line when the nodes differ from these: a task that asks for more than a node has waits
# for ever. Arguments after the script's name go to vellum (--time-limit, --memory, --strict).
#SBATCH --job-name=vellum
#SBATCH --cpus-per-task=2
#SBATCH --mem=1G
#SBATCH --output=results/part.%3a.jsonl
#SBATCH --error=results/part.%3a.err

part=$(printf 'part.%03d' "$SLURM_ARRAY_TASK_ID")
vellum --json -q --no-ledger -0 --files-from "$part" --report-dir "reports/$part" "$@"
status=$?
# 1 only says that bad archives were found: the task did its work. Anything else (2: files it could
# not read or a run cut short, 3: reports it could not write, 128+N: a signal) marks it failed.
[ "$status" -eq 1 ] && exit 0
exit "$status"
