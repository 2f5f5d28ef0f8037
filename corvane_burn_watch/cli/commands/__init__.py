"""One module per command of the program, each with its `command` function."""
