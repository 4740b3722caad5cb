"""Vellum's pictures, sounds and manual, made from code with the standard library only.

Every module is deterministic: the random generators all start from fixed seeds, so the same
bytes come out on every run. scripts/make-resources.py writes them into ui/resources/.
"""
