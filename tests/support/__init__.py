"""Shared helpers of the script tests: scratch folders, running the built programs, free ports."""
