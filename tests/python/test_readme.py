"""Every Python example in the README and in docs/ runs as shown, and every relative link in
them and in CONTRIBUTING.md leads to a file, or to a heading of it as GitHub anchors it."""

import pathlib
import re
import urllib.parse

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE_PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
LINKED_PAGES = [*EXAMPLE_PAGES, ROOT / "CONTRIBUTING.md"]
EXAMPLES = [(page, code) for page in EXAMPLE_PAGES
            for code in re.findall(r"^```python\n(.*?)^```", page.read_text(), flags=re.M | re.S)]


def test_the_readme_has_examples():
    assert sum(page.name == "README.md" for page, _ in EXAMPLES) >= 5


@pytest.mark.parametrize("page, code", EXAMPLES,
                         ids=[f"{page.name}-{i}" for i, (page, _) in enumerate(EXAMPLES)])
def test_example_runs(page, code):
    exec(compile(code, str(page), "exec"), {"__name__": "readme_example"})


def _outside_code(text):
    """The page without its fenced blocks and inline code, where nothing is a link."""
    text = re.sub(r"^(```+).*?^\1", "", text, flags=re.M | re.S)
    return re.sub(r"(`+).+?\1", "", text, flags=re.S)


def _anchors(page):
    """The anchors GitHub gives the page's headings: the text as shown, lower case, without
    punctuation but hyphens and underscores, each space a hyphen; a repeated one numbered."""
    anchors, seen = set(), {}
    text = re.sub(r"^(```+).*?^\1", "", page.read_text(), flags=re.M | re.S)
    for heading in re.findall(r"^#{1,6} +(.+?) *#* *$", text, flags=re.M):
        shown = re.sub(r"\[([^]]*)\]\([^)]*\)", r"\1", heading).replace("`", "")
        slug = re.sub(r"[^\w\- ]", "", shown.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        anchors.add(slug if count == 0 else f"{slug}-{count}")
    return anchors


def test_relative_links_resolve():
    broken = []
    for page in LINKED_PAGES:
        for target in re.findall(r"\]\(([^)\s]+)(?: \"[^\"]*\")?\)", _outside_code(page.read_text())):
            if re.match(r"[a-z][a-z0-9+.-]*:", target):
                continue  # an absolute address: not checked here
            path, _, anchor = target.partition("#")
            linked = (page.parent / urllib.parse.unquote(path)).resolve() if path else page
            if not linked.exists():
                broken.append(f"{page.name}: {target}: no file {linked}")
            elif anchor and (linked.suffix != ".md" or anchor not in _anchors(linked)):
                broken.append(f"{page.name}: {target}: no heading #{anchor} in {linked.name}")
    assert not broken, "\n".join(broken)
