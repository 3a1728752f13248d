// Find in the page. The matches of a text are looked for once, section by section, and kept:
// next and previous step through the kept list, whatever the page's length. A section that
// changes afterwards (a live update, code highlighted as it nears the view, parts arriving
// above) is looked through again in the background, a few at a time, so that a step never waits
// for a long page's arriving parts; the count follows. The current match becomes the page's
// selection, in the colour of a found match while the find goes on, and is brought to the
// middle of the view.
//
// Text matches within a block of text (a paragraph, a list item, a line of code), across the
// inline elements in it; a run of blanks in the text looked for matches any run of blanks.
(function () {
    'use strict';

    const inlineTags = new Set(['A', 'ABBR', 'B', 'BDI', 'BDO', 'CITE', 'CODE', 'DATA', 'DEL', 'DFN', 'EM', 'FONT',
                                'I', 'INS', 'KBD', 'LABEL', 'MARK', 'Q', 'S', 'SAMP', 'SMALL', 'SPAN', 'STRONG',
                                'SUB', 'SUP', 'TIME', 'U', 'VAR']);
    const unshownTags = new Set(['SCRIPT', 'STYLE', 'TEMPLATE', 'NOSCRIPT', 'TEXTAREA']);
    // Between two stretches of a block's own text that another block separates: no match spans it.
    const kBreak = '\u0000';
    const kFindingClass = 'tavlo-finding';
    const kChangedSectionsTakenAtOnce = 20;

    // Text the reader can't see is not found: scripts, hidden elements, the tool steps the style
    // sheet folds away. (Asking for each element's computed style would cost a style pass each.)
    function isUnshown(element) {
        if (unshownTags.has(element.tagName) || element.hidden) return true;
        return element.classList.contains('folded') && element.classList.contains('tool-step-body');
    }

    function blockOf(node, root, blocks) {
        let element = node.parentElement;
        const start = element;
        const known = blocks.get(start);
        if (known) return known;
        while (element !== root && inlineTags.has(element.tagName)) element = element.parentElement;
        blocks.set(start, element);
        return element;
    }

    // The own text of every block below `root`, with where each text node starts in it, in page
    // order.
    function textsOf(root) {
        const texts = new Map();
        const blocks = new Map();
        const walker = document.createTreeWalker(root, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT, {
            acceptNode: function (node) {
                if (node.nodeType === Node.TEXT_NODE) return NodeFilter.FILTER_ACCEPT;
                return isUnshown(node) ? NodeFilter.FILTER_REJECT : NodeFilter.FILTER_SKIP;
            }
        });
        let previousBlock = null;
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            const block = blockOf(node, root, blocks);
            let entry = texts.get(block);
            if (!entry) {
                entry = {text: '', pieces: []};
                texts.set(block, entry);
            } else if (previousBlock !== block) {
                entry.text += kBreak;
            }
            entry.pieces.push({node: node, at: entry.text.length});
            entry.text += node.data;
            previousBlock = block;
        }
        return texts;
    }

    function patternFor(text, caseSensitive) {
        const escaped = text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&').replace(/\s+/g, '\\s+');
        return new RegExp(escaped, caseSensitive ? 'gu' : 'giu');
    }

    // ---- The kept matches: per section (an element of the body), each {block, start, end} in
    // the block's own text.
    const state = {
        pattern: null,
        key: '',
        matches: new Map(),   // section -> matches
        texts: new Map(),     // section -> its text when its matches were found
        dirty: new Set(),     // sections to look through again
        current: null,        // {section, index}
        shown: null           // the range of the current match
    };

    function sectionOf(node) {
        let element = node.nodeType === Node.ELEMENT_NODE ? node : node.parentElement;
        while (element && element.parentElement !== document.body) element = element.parentElement;
        return element;
    }

    function noteChanges(records) {
        for (const record of records) {
            if (record.target === document.body) {
                for (const node of record.addedNodes) if (node.nodeType === Node.ELEMENT_NODE) state.dirty.add(node);
                for (const node of record.removedNodes) {
                    state.matches.delete(node);
                    state.texts.delete(node);
                    state.dirty.delete(node);
                }
                continue;
            }
            const section = sectionOf(record.target);
            if (section) state.dirty.add(section);
        }
    }

    // Changes of the page while a text is being found. One that replaced what the current match
    // was shown in (code highlighted as it came into view) selects it again at once.
    const observer = new MutationObserver(function (records) {
        noteChanges(records);
        if (state.current && state.dirty.has(state.current.section) && state.current.section.isConnected) {
            lookThrough(state.current.section);
            if (state.current.index < (state.matches.get(state.current.section) || []).length) show(state.current);
        }
        scheduleLookThrough();
    });

    function lookThrough(section) {
        state.dirty.delete(section);
        // A match lies in one stretch of consecutive text nodes, so a section whose whole text
        // (the engine's own, quick to make) has none needs no closer look; one whose text and
        // blocks are as they were (code highlighted, which only wraps its text) keeps its matches.
        const text = section.textContent;
        const kept = state.matches.get(section);
        if (kept && state.texts.get(section) === text && kept.every(function (match) { return section.contains(match.block); }))
            return;
        const found = [];
        state.pattern.lastIndex = 0;
        const mayMatch = state.pattern.test(text);
        if (mayMatch && section.nodeType === Node.ELEMENT_NODE && !isUnshown(section)) {
            for (const [block, entry] of textsOf(section)) {
                state.pattern.lastIndex = 0;
                for (let match; (match = state.pattern.exec(entry.text)); ) {
                    if (!match[0].length) { state.pattern.lastIndex++; continue; }
                    found.push({block: block, start: match.index, end: match.index + match[0].length});
                }
            }
        }
        if (found.length) {
            state.matches.set(section, found);
            state.texts.set(section, text);
        } else {
            state.matches.delete(section);
            state.texts.delete(section);
        }
    }

    function lookThroughDirty(deadline) {
        for (const section of state.dirty) {
            if (performance.now() > deadline) return false;
            if (section.parentElement === document.body) lookThrough(section);
            else state.dirty.delete(section);
        }
        return true;
    }

    function bringUpToDate() {
        noteChanges(observer.takeRecords());
        lookThroughDirty(Infinity);
    }

    // Sections that changed are looked through in slices of a few milliseconds between the
    // page's other work.
    const kSliceMilliseconds = 8;
    let sliceScheduled = false;
    function scheduleLookThrough() {
        if (sliceScheduled || !state.pattern || !state.dirty.size) return;
        sliceScheduled = true;
        setTimeout(function () {
            sliceScheduled = false;
            if (!state.pattern) return;
            noteChanges(observer.takeRecords());
            if (!lookThroughDirty(performance.now() + kSliceMilliseconds)) scheduleLookThrough();
        }, 0);
    }

    // The sections with matches, in page order.
    function sectionsInOrder() {
        const sections = [];
        for (const element of document.body.children) if (state.matches.has(element)) sections.push(element);
        return sections;
    }

    // ---- The current match is shown as the selection: showing it changes nothing in the
    // document, whereas wrapping it in an element would have the engine lay out the page again
    // at every step.
    const root = document.documentElement;

    function show(position) {
        const match = state.matches.get(position.section)[position.index];
        const entry = textsOf(match.block).get(match.block);
        state.shown = null;
        if (!entry) return;
        let range = null;
        for (const piece of entry.pieces) {
            const end = piece.at + piece.node.data.length;
            if (!range && match.start < end) {
                range = document.createRange();
                range.setStart(piece.node, match.start - piece.at);
            }
            if (range && match.end <= end) {
                range.setEnd(piece.node, match.end - piece.at);
                break;
            }
        }
        if (!range) return;
        if (!root.classList.contains(kFindingClass)) root.classList.add(kFindingClass);
        const selection = window.getSelection();
        selection.removeAllRanges();
        selection.addRange(range);
        state.shown = range;
    }

    // The view goes to the match; sections laid out only as they come near can move it, so it
    // is brought back for a few frames while it is out of view.
    function reveal() {
        const range = state.shown;
        if (!range) return;
        if (typeof window.takeOverScroll === 'function') window.takeOverScroll();
        const toMiddle = function (always) {
            const box = range.getBoundingClientRect();
            if (always || box.bottom < 0 || box.top > window.innerHeight)
                window.scrollBy(0, box.top + box.height / 2 - window.innerHeight / 2);
        };
        toMiddle(true);
        let frames = 3;
        const again = function () {
            if (state.shown !== range) return;
            toMiddle(false);
            if (--frames > 0) requestAnimationFrame(again);
        };
        requestAnimationFrame(again);
    }

    // Where a new search starts: the first match from the top of the view on (or the last one
    // above its bottom, backwards).
    function startingPosition(sections, backwards) {
        const height = window.innerHeight;
        if (!backwards) {
            for (const section of sections)
                if (section.getBoundingClientRect().bottom > 0) return {section: section, index: 0};
            return {section: sections[0], index: 0};
        }
        for (let i = sections.length - 1; i >= 0; --i)
            if (sections[i].getBoundingClientRect().top < height)
                return {section: sections[i], index: state.matches.get(sections[i]).length - 1};
        const last = sections[sections.length - 1];
        return {section: last, index: state.matches.get(last).length - 1};
    }

    function step(position, sections, backwards) {
        const count = state.matches.get(position.section).length;
        const next = position.index + (backwards ? -1 : 1);
        if (next >= 0 && next < count) return {section: position.section, index: next};
        let at = sections.indexOf(position.section) + (backwards ? -1 : 1);
        if (at < 0) at = sections.length - 1;
        if (at >= sections.length) at = 0;
        const section = sections[at];
        return {section: section, index: backwards ? state.matches.get(section).length - 1 : 0};
    }

    function forget() {
        observer.disconnect();
        state.pattern = null;
        state.key = '';
        state.matches.clear();
        state.texts.clear();
        state.dirty.clear();
        state.current = null;
        state.shown = null;
    }

    // Finds `text` (data, never program text), the next match or, backwards, the previous one,
    // wrapping at the ends. Answers {active, count}: the match shown (counted from 1, 0 for
    // none) and how many there are. An empty text ends the find.
    function findInPage(text, caseSensitive, backwards) {
        text = String(text || '').replace(/\u0000/g, '');
        if (!text) {
            // The last match stays selected, in the selection's own colour. (The colour changes
            // only here: a class on the root has the whole page styled again.)
            forget();
            root.classList.remove(kFindingClass);
            return {active: 0, count: 0};
        }
        const key = (caseSensitive ? '1' : '0') + text;
        if (key !== state.key) {
            // A new text: the whole page is looked through now.
            forget();
            state.key = key;
            state.pattern = patternFor(text, !!caseSensitive);
            for (const element of document.body.children) state.dirty.add(element);
            observer.observe(document.body, {childList: true, subtree: true, characterData: true,
                                             attributes: true, attributeFilter: ['class', 'hidden', 'style']});
            bringUpToDate();
        } else {
            // A step takes a few changed sections (a live update) at once; of many (parts of a
            // long page arriving) only the current match's, the rest following in the background.
            noteChanges(observer.takeRecords());
            if (state.dirty.size <= kChangedSectionsTakenAtOnce) bringUpToDate();
            else if (state.current && state.dirty.has(state.current.section)) lookThrough(state.current.section);
            scheduleLookThrough();
        }
        const sections = sectionsInOrder();
        if (!sections.length) {
            state.current = null;
            state.shown = null;
            return {active: 0, count: 0};
        }
        const current = state.current;
        const stillThere = current && state.matches.has(current.section) && current.index < state.matches.get(current.section).length;
        state.current = stillThere ? step(current, sections, !!backwards) : startingPosition(sections, !!backwards);
        show(state.current);
        reveal();
        let before = 0;
        let count = 0;
        for (const section of sections) {
            if (section === state.current.section) before = count;
            count += state.matches.get(section).length;
        }
        return {active: before + state.current.index + 1, count: count};
    }
    window.findInPage = findInPage;
})();
