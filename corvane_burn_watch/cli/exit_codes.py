"""The program's exit codes.

The result code of ``once`` and ``snapshot`` (0 or 1, or 2 when Telegram
refuses the bot or the chat); 0 when ``run`` stops at the pause file; 0 when
every ``check`` passes or the test message arrived, else 1; 1 for an error
the library raised; 2 for a bad option or setting (reported before any
network traffic), for a state file another watch is using, and when Telegram
refuses the bot or the chat at start-up (restarting cannot help); 130 after
Ctrl-C and 143 after SIGTERM.
"""

EXIT_ERROR = 1
EXIT_USAGE = 2
# A result of the library, and this program's exit code, when Telegram refuses
# the bot or the chat: restarting cannot help, so a service manager should not.
EXIT_REFUSED = 2
EXIT_SIGINT = 130
EXIT_SIGTERM = 143
