#!/usr/bin/env python3
"""Checks that the source folders stay layered; run by Tools/test.sh before the build.

The folders and their order are ORVIK_FOLDERS in the top CMakeLists.txt, bottom first; each folder's
CMakeLists.txt makes one library with orvik_library(Name LINKS ...). The check fails, naming the file
and line, when
  - a library links a library whose folder does not stand before its own in that order, or
  - a file includes a header of a folder that is neither its own nor one its library links (directly
    or through what those link).
Application/Main.cpp, the program, is checked as part of Application. A test folder Tests/<Folder> may include what <Folder> may,
the test files of those folders (Tests/<Lower>/...), Tests/Support and its own files. Tests/Support,
Tests/Fuzz and Benchmarks serve every folder and are not checked.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
UNCHECKED_TESTS = ('Tests/Support/', 'Tests/Fuzz/')


def read(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        return f.read()


def folder_order():
    text = read(os.path.join(ROOT, 'CMakeLists.txt'))
    match = re.search(r'set\(ORVIK_FOLDERS\s+(.*?)\)', text, re.S)
    if not match:
        sys.exit('CMakeLists.txt: no set(ORVIK_FOLDERS ...)')
    start = text[:match.start()].count('\n') + 1
    order, lines = [], {}
    for offset, line in enumerate(match.group(0).splitlines()[1:], 1):
        word = line.split('#')[0].strip().rstrip(')')
        if word:
            order.append(word)
            lines[word] = start + offset
    return order, lines


def libraries(order):
    """folder -> (library name, linked library names, line of the call)."""
    result = {}
    for folder in order:
        path = os.path.join(ROOT, folder, 'CMakeLists.txt')
        if not os.path.exists(path):
            continue
        text = read(path)
        match = re.search(r'orvik_library\((.*?)\)', text, re.S)
        if not match:
            continue
        words = match.group(1).split()
        name, links, mode = words[0], [], None
        for word in words[1:]:
            if word in ('LINKS', 'SYSTEM'):
                mode = word
            elif mode == 'LINKS':
                links.append(word)
        result[folder] = (name, links, text[:match.start()].count('\n') + 1)
    return result


def main():
    order, order_lines = folder_order()
    libs = libraries(order)
    folder_of_library = {name: folder for folder, (name, _, _) in libs.items()}
    rank = {folder: i for i, folder in enumerate(order)}
    errors = []

    # The links follow the order. Assets is the resource table that Platform/CMakeLists.txt builds.
    for folder, (name, links, line) in libs.items():
        for link in links:
            below = folder_of_library.get(link)
            if below is None:
                if link != 'Assets':
                    errors.append(f'{folder}/CMakeLists.txt:{line}: {name} links {link}, which is no folder\'s library')
            elif rank[below] >= rank[folder]:
                errors.append(f'{folder}/CMakeLists.txt:{line}: {name} links {link}, but {below} does not stand '
                              f'before {folder} in ORVIK_FOLDERS (CMakeLists.txt:{order_lines[folder]})')

    # What each folder may include: itself and what it links, transitively (links point down only,
    # so one pass in order suffices).
    reach = {}
    for folder in order:
        if folder in libs:
            allowed = {folder}
            for link in libs[folder][1]:
                allowed |= reach.get(folder_of_library.get(link), set())
            reach[folder] = allowed

    by_length = sorted(order, key=len, reverse=True)  # Drone/FlightController before Drone

    def owner(relative):
        for folder in by_length:
            if relative.startswith(folder + '/'):
                return folder
        return None

    def check(relative, allowed, own_test_folder):
        for number, text in enumerate(read(os.path.join(ROOT, relative)).splitlines(), 1):
            match = INCLUDE.match(text)
            if not match:
                continue
            target = match.group(1)
            if os.path.exists(os.path.join(ROOT, target)):
                found, where = owner(target), target
            elif os.path.exists(os.path.join(ROOT, 'Tests', target)):
                where = 'Tests/' + target
                if where.startswith(UNCHECKED_TESTS[0]) or (own_test_folder and where.startswith(own_test_folder + '/')):
                    continue
                found = owner(target)
            else:
                continue  # a header beside the file, or a generated one
            if found is not None and found not in allowed:
                mine = owner(relative[len('Tests/'):] if relative.startswith('Tests/') else relative)
                errors.append(f'{relative}:{number}: includes "{target}" ({where}), but {mine} does not link {found}')

    for directory, subdirectories, files in os.walk(ROOT):
        relative_directory = os.path.relpath(directory, ROOT).replace(os.sep, '/')
        if relative_directory == '.':
            subdirectories[:] = [d for d in subdirectories if not d.startswith('.')
                                 and d not in ('build', 'Tools', 'Benchmarks', 'Assets', 'cmake')]
            continue
        for file in sorted(files):
            if not file.endswith(('.h', '.cpp', '.inc')):
                continue
            relative = f'{relative_directory}/{file}'
            if relative.startswith(UNCHECKED_TESTS):
                continue
            if relative.startswith('Tests/'):
                folder = owner(relative[len('Tests/'):])
                if folder in reach:
                    check(relative, reach[folder], 'Tests/' + folder)
            else:
                folder = owner(relative)
                if folder in reach:
                    check(relative, reach[folder], None)

    for error in errors:
        print(error)
    if errors:
        print(f'{len(errors)} layering fault(s); the order is ' + ' < '.join(order))
        return 1
    print('Layers hold: ' + ' < '.join(order))
    return 0


if __name__ == '__main__':
    sys.exit(main())
