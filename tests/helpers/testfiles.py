"""File helpers shared by the Python tests."""

import os


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    """Writes bytes (or text as UTF-8), making the folders on the way."""
    folder = os.path.dirname(path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
