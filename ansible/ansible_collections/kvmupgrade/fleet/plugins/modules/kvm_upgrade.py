# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: kvm_upgrade
short_description: Upgrade a KVM switch's firmware with kvm-upgrade-cli
version_added: 1.0.0
description:
  - >-
    Runs C(kvm-upgrade-cli --json upgrade --yes) on the managed host, whose
    serial port holds the switch's upgrade cable, and returns the JSON object
    it prints.
  - >-
    With I(if_newer) the switch's firmware date is read first and the file is
    sent only when it is newer; nothing but the probe and the version request
    reaches a switch that is current.
  - >-
    In check mode it runs C(kvm-upgrade-cli --json check --file FIRMWARE)
    instead, which finds the switch and compares the dates, and reports what
    an upgrade would do. Nothing is sent to the switch.
  - >-
    C(changed) is true only when image blocks were sent (in check mode: when
    an upgrade would send them). The task fails for every exit status of
    C(kvm-upgrade-cli) but 0 (done) and 3 (nothing to do).
  - >-
    I(may_not_start) is true when the switch may not start again: the upgrade
    broke off once it had begun (exit status 7), it was interrupted during the
    transfer, its end is unknown, or I(verify) did not see the switch come back
    with the file's date (exit status 8). Keep such a switch powered and
    cabled, and run the upgrade again with I(if_newer=false).
author: kvm-upgrade developers
requirements:
  - >-
    C(kvm-upgrade-cli) on the managed host, run by a user who may open the
    serial port (group C(dialout))
options:
  firmware:
    description: >-
      The firmware file, on the managed host. A file without an info
      record has its model and date read from its name, so keep the name.
    type: path
    required: true
  port:
    description: >-
      C(AUTO) (scan COM1 to COM12) or C(COM1) to C(COM12). When not
      given, the host's kept port setting (C(/etc/kvm-upgrade.conf)), else
      C(AUTO).
    type: str
  map:
    description: >-
      C(COMn=DEVICE) entries, passed as C(--map); any entry replaces
      the host's detected and kept port table entirely.
    type: list
    elements: str
    default: []
  if_newer:
    description: >-
      Send the file only when its date is newer than the switch's.
      Set it to false to send it anyway, e.g. to a switch whose upgrade broke
      off (the date such a switch reports says nothing of what it holds).
    type: bool
    default: true
  verify:
    description: >-
      After the upgrade, wait for the switch to restart and check
      that it reports the file's date (C(--verify)). A switch that does not
      counts as I(may_not_start).
    type: bool
    default: true
  verify_seconds:
    description: >-
      How long I(verify) waits for the restarted switch; the
      program's default (60) when not given.
    type: int
  probe_only:
    description: >-
      I(verify) only sees that the switch answers its version request again
      (C(--verify=probe-only)); a date it can compare must still match.
      Needed for a file without an info record, whose date (if any) comes
      from its name, which the switch never reports.
    type: bool
    default: false
  cli_path:
    description: >-
      The program, a name looked up in the host's C(PATH) or a path.
    type: str
    default: kvm-upgrade-cli
  timeout:
    description: >-
      Seconds the program may run. Then it is interrupted (twice,
      since the first interrupt of a transfer only warns), and killed if it
      still runs; the task fails, saying so.
    type: int
    default: 600
notes:
  - >-
    Supports check mode.
  - >-
    An interrupt or a time-out that ends a transfer leaves a switch that may
    not start; so does anything that ends the module without its result.
  - >-
    The rollout playbook C(kvmupgrade.fleet.rollout) runs it on many hosts,
    a batch at a time; /usr/share/doc/kvm-upgrade/fleet.md tells how.
'''

EXAMPLES = r'''
- name: Upgrade the switch on COM1 when the file is newer
  kvmupgrade.fleet.kvm_upgrade:
    firmware: /tmp/pzn442-14-3-26.bin
    port: COM1

- name: Send it again to a switch whose upgrade broke off, naming its adapter
  kvmupgrade.fleet.kvm_upgrade:
    firmware: /tmp/pzn442-14-3-26.bin
    port: COM1
    map:
      - COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
    if_newer: false
  register: kvm

- name: Say which switch needs a person
  ansible.builtin.debug:
    msg: "{{ inventory_hostname }}: {{ kvm.msg }}"
  when: kvm.may_not_start
'''

RETURN = r'''
result:
  description: >-
    What came of it, one word. C(upgraded), C(current) (the switch
    is as new or newer), C(date-unknown) (the dates cannot be compared: nothing
    was sent), C(would-upgrade) (check mode), C(port-unavailable),
    C(port-busy), C(no-switch), C(failed) or C(may-not-start).
  returned: always
  type: str
  sample: upgraded
may_not_start:
  description: >-
    The switch may not start again (see the description).
  returned: always
  type: bool
  sample: false
rc:
  description: >-
    The exit status of kvm-upgrade-cli; null when it could not be
    started, negative when a signal ended it.
  returned: always
  type: int
  sample: 0
report:
  description: >-
    The object C(kvm-upgrade-cli --json) printed (its fields are in
    C(man kvm-upgrade-cli), JSON OUTPUT); null when it printed none (a usage
    error, a program that was killed).
  returned: always
  type: dict
  sample:
    command: upgrade
    port: {name: COM1, device: /dev/ttyUSB0}
    file: {path: /tmp/pzn442-14-3-26.bin, size: 65536, crc16: "0x1A2B",
           model: PZN442, version: 14-3-26, valid: true}
    switch: {model: PZN442, date: 07-12-25}
    comparison: file-newer
    outcome: done
    exit_code: 0
    cause: null
    blocks_sent: 256
    bytes_sent: 65536
    resends: 0
    rejections: 0
    seconds: 7.465
    verified: true
    switch_after: {model: PZN442, date: 14-03-26}
msg:
  description: >-
    One line on what happened, for people.
  returned: always
  type: str
  sample: switch 07-12-25 -> file 14-3-26, 65536 bytes in 7.465 s
cmd:
  description: >-
    The command that was run.
  returned: always
  type: list
  elements: str
stderr:
  description: >-
    What kvm-upgrade-cli wrote on stderr (its log).
  returned: always
  type: str
'''

import json
import signal
import subprocess

from ansible.module_utils.basic import AnsibleModule

WORDS = {1: 'failed', 2: 'failed', 4: 'port-unavailable', 5: 'port-busy', 6: 'no-switch',
         7: 'may-not-start', 8: 'may-not-start'}
# After the time limit: how long the program gets to end after each interrupt.
INTERRUPT_GRACE = (3, 15)


def command(module, cli):
    p = module.params
    args = [cli, '--json']
    if p['port']:
        args.append('--port=' + p['port'])
    args += ['--map=' + entry for entry in p['map']]
    if module.check_mode:
        return args + ['check', '--file=' + p['firmware']]
    args += ['upgrade', '--yes']
    if p['if_newer']:
        args.append('--if-newer')
    if p['verify']:
        what = ['probe-only'] if p['probe_only'] else []
        if p['verify_seconds'] is not None:
            what.append(str(p['verify_seconds']))
        args.append('--verify=' + ','.join(what) if what else '--verify')
    return args + ['--file=' + p['firmware']]


def run(args, seconds):
    """Runs args with stdin closed; returns (rc, stdout, stderr, timed_out)."""
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=seconds)
        return proc.returncode, out, err, False
    except subprocess.TimeoutExpired:
        pass
    # A transfer takes the first interrupt as a warning only: the second ends
    # it, and the program still prints its object.
    for grace in INTERRUPT_GRACE:
        proc.send_signal(signal.SIGTERM)
        try:
            out, err = proc.communicate(timeout=grace)
            return proc.returncode, out, err, True
        except subprocess.TimeoutExpired:
            pass
    proc.kill()
    out, err = proc.communicate()
    return proc.returncode, out, err, True


def parse_report(out):
    for line in reversed(out.splitlines()):
        if line.strip():
            try:
                report = json.loads(line)
            except ValueError:
                return None
            return report if isinstance(report, dict) else None
    return None


def field(report, *keys):
    value = report
    for key in keys:
        value = value.get(key) if isinstance(value, dict) else None
    return value


def judge(rc, report, check_mode, if_newer):
    """Returns (result, may_not_start)."""
    comparison = field(report, 'comparison')
    if check_mode:
        if rc == 0 or (rc == 3 and not if_newer):
            return 'would-upgrade', False
        if rc == 3:
            return ('current' if comparison in ('same', 'switch-newer') else 'date-unknown'), False
        return (WORDS[rc] if rc in (4, 5, 6) else 'failed'), False
    if rc == 0 and report is not None:
        if field(report, 'verified') is False:
            return 'may-not-start', True
        return 'upgraded', False
    if rc == 3:
        return ('current' if comparison in ('same', 'switch-newer') else 'date-unknown'), False
    if rc in WORDS:
        return WORDS[rc], rc in (7, 8)
    # A signal, or the program gone without its object: even with nothing
    # acknowledged, the switch may have taken the headers and begun to erase.
    cause = field(report, 'cause') or ''
    if report is None or 'during the transfer' in cause or (field(report, 'blocks_sent') or 0) > 0:
        return 'may-not-start', True
    return 'failed', False


def describe(result, report, err):
    def get(*keys):
        return field(report, *keys)

    if result == 'upgraded':
        text = 'switch %s -> file %s, %s bytes in %s s' % (
            get('switch', 'date'), get('file', 'version'), get('bytes_sent'), get('seconds'))
        if get('verified'):
            text += '; it restarted with %s' % get('switch_after', 'date')
        return text
    if result in ('current', 'date-unknown', 'would-upgrade'):
        return 'switch %s, file %s (%s)' % (get('switch', 'date'), get('file', 'version') or 'of unknown date',
                                            get('comparison'))
    cause = get('cause')
    if not cause:
        # A usage error prints no object: its cause is the program's last
        # line of its own, before the hint to try --help.
        lines = [line for line in err.splitlines() if line.strip()]
        own = [line for line in lines if line.startswith('kvm-upgrade-cli: ')]
        cause = (own or lines or ['no report'])[-1]
    if result == 'may-not-start' and isinstance(get('file', 'size'), int):
        return '%s of %s bytes acknowledged: %s' % (get('bytes_sent'), get('file', 'size'), cause)
    return cause


def main():
    module = AnsibleModule(
        argument_spec=dict(
            firmware=dict(type='path', required=True),
            port=dict(type='str'),
            map=dict(type='list', elements='str', default=[]),
            if_newer=dict(type='bool', default=True),
            verify=dict(type='bool', default=True),
            verify_seconds=dict(type='int'),
            probe_only=dict(type='bool', default=False),
            cli_path=dict(type='str', default='kvm-upgrade-cli'),
            timeout=dict(type='int', default=600),
        ),
        supports_check_mode=True,
    )
    p = module.params
    answer = dict(changed=False, result='failed', may_not_start=False, rc=None, report=None, cmd=[], stderr='')
    for name in ('timeout', 'verify_seconds'):
        if p[name] is not None and p[name] <= 0:
            module.fail_json(msg='%s must be a number of seconds above 0, not %d' % (name, p[name]), **answer)
    cli = p['cli_path'] if '/' in p['cli_path'] else module.get_bin_path(p['cli_path'])
    if not cli:
        module.fail_json(msg='%s was not found on this host (PATH, or set cli_path)' % p['cli_path'], **answer)
    answer['cmd'] = args = command(module, cli)
    try:
        rc, out, err, timed_out = run(args, p['timeout'])
    except OSError as e:
        module.fail_json(msg='cannot run %s: %s' % (cli, e), **answer)
    err = err.decode('utf-8', 'replace')
    report = parse_report(out.decode('utf-8', 'replace'))
    result, may_not_start = judge(rc, report, module.check_mode, p['if_newer'])
    msg = describe(result, report, err)
    if timed_out:
        msg = '%s did not end within %d s and was stopped; %s' % (cli, p['timeout'], msg)
    elif rc == 2 and 'unknown option --verify' in msg:
        msg += ' (a kvm-upgrade-cli older than --verify: set verify to false)'
    answer.update(
        changed=(result == 'would-upgrade') if module.check_mode else (field(report, 'blocks_sent') or 0) > 0,
        result=result, may_not_start=may_not_start, rc=rc, report=report, stderr=err, msg=msg)
    if rc in (0, 3) and not timed_out and result != 'may-not-start':
        # Ansible takes any rc but 0 for a failure unless told otherwise.
        module.exit_json(failed=False, **answer)
    module.fail_json(**answer)


if __name__ == '__main__':
    main()
