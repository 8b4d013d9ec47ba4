# The role's report table at the end of the playbook's output, as plain
# lines: the default output shows a task's message as quoted JSON, where a
# table is a list of strings. The table comes from the role's set_stats
# (tasks/report.yml); this prints it and nothing else.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = """
    name: tftp_loader_fleet_summary
    type: notification
    short_description: Prints the tftp_loader_fleet report's table after the recap
    description:
      - Prints the table that the role tftp_loader_fleet keeps with set_stats
        (tftp_loader_fleet_summary) as it is, after the play recap.
"""

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "notification"
    CALLBACK_NAME = "tftp_loader_fleet_summary"
    # Loaded with the role, without a line in ansible.cfg.
    CALLBACK_NEEDS_ENABLED = False

    def v2_playbook_on_stats(self, stats):
        table = (stats.custom.get("_run") or {}).get("tftp_loader_fleet_summary")
        if table:
            self._display.banner("TFTP LOADER FLEET REPORT")
            self._display.display(str(table).rstrip("\n"))
