#!/bin/sh
# Runs vellum with the arguments given, for GNU parallel (docs/parallel-across-hosts.md). vellum
# exits with 1 when it found bad archives, which means its job did all its work: report that as
# success, so that parallel --retries runs again only the jobs that failed (2: files it could not
# read or a run cut short, 3: reports it could not write, 128+N: a signal, 255: ssh lost the host).
vellum "$@"
status=$?
[ "$status" -eq 1 ] && exit 0
exit "$status"
