# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
"""The rollout playbook's record, kept on the controller: it judges every
host of the play from what its steps registered (kvm_tmp, kvm_copy, kvm_run)
and writes summary.txt, remaining.hosts (never started, or in flight when
the rollout was interrupted) and rerun.hosts (a switch that may not start)
into dir. Given firmware, it opens the rollout: checks the file and returns
its path and SHA-1. It returns the summary's lines, and the facts kvm_record,
kvm_stopped (a switch may not start: start no further batch) and, on
opening, kvm_firmware_path and kvm_firmware_sha1, meant for localhost
(delegate_facts). In check mode it writes nothing."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os
from collections import Counter

from ansible.module_utils._text import to_native
from ansible.plugins.action import ActionBase
from ansible.utils.hashing import checksum

# The words that leave nothing to do.
DONE = ('upgraded', 'current', 'would-upgrade')
TO_RUN = ('not-started', 'in-flight')


def result(word, detail='', may_not_start=False):
    return {'result': word, 'detail': ' '.join(str(detail or '').split()), 'may_not_start': bool(may_not_start)}


def judge(tmp, copy, run):
    """One host's result from its registered steps: the folder on the host,
    the copy of the firmware file, the module."""
    for step in (tmp, copy):
        if step.get('unreachable'):
            return result('unreachable', step.get('msg'))
        if step.get('failed'):
            return result('copy-failed', step.get('msg'))
    if 'result' in run:
        return result(run['result'], run.get('msg'), run.get('may_not_start'))
    if run.get('unreachable') or run.get('failed'):
        # The connection broke or the task's time ran out: the program may
        # have been sending when it ended.
        return result('may-not-start', "the upgrade's end is unknown: %s" % run.get('msg'), True)
    return result('failed', run.get('msg') or 'the upgrade did not run')


def summary(results, stopped):
    width = max(len(h) for h, _ in results)
    word_width = max(len(r['result']) for _, r in results)
    lines = [('%s  %s  %s' % (h.ljust(width), r['result'].ljust(word_width), r['detail'])).rstrip()
             for h, r in results]
    counts = Counter(r['result'] for _, r in results)
    lines.append('%d hosts: %s' % (len(results), ', '.join('%d %s' % (n, w) for w, n in counts.items())))
    rerun = [h for h, r in results if r['may_not_start']]
    if rerun:
        lines.append('may not start: %s (keep their power and cables; run them again with'
                     ' --limit @rerun.hosts -e kvm_if_newer=false)' % ' '.join(rerun))
    if stopped:
        lines.append('stopped: no further batch was started')
    remaining = [h for h, r in results if r['result'] in TO_RUN]
    if remaining:
        lines.append('still to run: %s' % ' '.join(remaining))
    return lines, remaining, rerun


def write(path, lines):
    if not lines:
        if os.path.exists(path):
            os.remove(path)
        return
    with open(path + '.new', 'w') as f:
        f.write(''.join(line + '\n' for line in lines))
    os.replace(path + '.new', path)


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(('dir', 'firmware', 'in_flight'))

    def run(self, tmp=None, task_vars=None):
        answer = super(ActionModule, self).run(tmp, task_vars)
        args = self._task.args
        folder = os.path.realpath(args['dir'])
        facts = {'kvm_record': folder}
        if args.get('firmware'):
            path = os.path.realpath(args['firmware'])
            if not os.path.isfile(path) or not os.access(path, os.R_OK):
                return dict(answer, failed=True, msg='%s is no readable file here: no host was contacted' % path)
            facts.update(kvm_firmware_path=path, kvm_firmware_sha1=checksum(path))
        hostvars = task_vars['hostvars']
        in_flight = args.get('in_flight') or []
        results = []
        for host in task_vars['ansible_play_hosts_all']:
            steps = [hostvars[host].get(name) or {} for name in ('kvm_tmp', 'kvm_copy', 'kvm_run')]
            if any(steps):
                results.append((host, judge(*steps)))
            elif host in in_flight:
                results.append((host, result('in-flight', "the rollout was interrupted: the upgrade's end is unknown",
                                             True)))
            else:
                results.append((host, result('not-started')))
        facts['kvm_stopped'] = any(r['may_not_start'] and r['result'] != 'in-flight' for _, r in results)
        lines, remaining, rerun = summary(results, facts['kvm_stopped'] and 'not-started' in
                                          [r['result'] for _, r in results])
        answer.update(changed=False, ansible_facts=facts, summary=lines, remaining=remaining, rerun=rerun,
                      ok=all(r['result'] in DONE for _, r in results))
        if self._task.check_mode:
            return answer
        try:
            os.makedirs(folder, exist_ok=True)
            write(os.path.join(folder, 'summary.txt'), lines)
            write(os.path.join(folder, 'remaining.hosts'), remaining)
            write(os.path.join(folder, 'rerun.hosts'), rerun)
        except OSError as e:
            answer.update(failed=True, msg='cannot write the record in %s: %s' % (folder, to_native(e)))
        return answer
