// The Changes panel of the session page: the files the session changed, each opening to its edits
// as diffs in the order they were made, each edit linking to its exchange on the page. The program
// sends the data; the panel is built from text nodes only, so nothing in it becomes markup, and it
// lives outside the page's body, apart from the exchange sections.
(function () {
    'use strict';

    const kFolded = '▶';
    const kOpen = '▼';
    let panel = null;

    function make(tag, className, text) {
        const node = document.createElement(tag);
        if (className) node.className = className;
        if (text !== undefined && text !== null) node.textContent = String(text);
        return node;
    }

    function count(value, one, many) {
        return Number(value).toLocaleString() + ' ' + (Number(value) === 1 ? one : many);
    }

    function lineCounts(added, removed) {
        const span = make('span', 'changes-lines');
        span.append(make('span', 'changes-added', '+' + Number(added).toLocaleString()), ' ',
                    make('span', 'changes-removed', '−' + Number(removed).toLocaleString()));
        return span;
    }

    function hideChanges() {
        if (panel) panel.remove();
        panel = null;
    }
    window.hideChanges = hideChanges;

    // A link to the edit's exchange: the page glides there, the panel stays open.
    function exchangeLink(edit) {
        if (!edit.sectionId) return make('span', 'changes-no-link', edit.inSubagent ? 'sub-agent' : '');
        const link = make('button', 'changes-link', edit.inSubagent ? 'sub-agent’s exchange' : 'exchange');
        link.type = 'button';
        link.title = 'Scroll the page to the exchange that made this edit';
        link.addEventListener('click', function (event) {
            event.stopPropagation();
            if (window.scrollToExchange) window.scrollToExchange(edit.sectionId);
        });
        return link;
    }

    // An edit: its header (the page's fold header, so the page's own folding opens its diff), and
    // its diff, folded when long as the page folds patches.
    function editBlock(edit) {
        const block = make('div', 'changes-edit' + (edit.failed ? ' changes-failed' : ''));
        const hasDiff = !edit.failed && edit.diff;
        const header = make('p', hasDiff ? 'tool-use-header changes-edit-header' : 'changes-edit-header');
        if (hasDiff) header.append(make('span', 'fold-toggle', edit.folded ? kFolded : kOpen), ' ');
        header.append(make('span', 'changes-tool', edit.tool), ' ', make('span', 'changes-time', edit.time), ' ');
        if (edit.failed) header.append(make('span', 'changes-error', 'failed: ' + (edit.error || 'error')));
        else header.append(lineCounts(edit.added, edit.removed), edit.created ? make('span', 'changes-created', ' created') : '');
        header.append(' ', exchangeLink(edit));
        block.appendChild(header);
        if (hasDiff) {
            const body = make('div', 'tool-use-diff' + (edit.folded ? ' folded' : ''));
            const pre = make('pre');
            const code = make('code', 'language-diff', edit.diff);
            pre.appendChild(code);
            body.appendChild(pre);
            block.appendChild(body);
        }
        return block;
    }

    // A file: its row, opening to its edits (made when first opened).
    function fileBlock(file) {
        const block = make('div', 'changes-file');
        const header = make('p', 'changes-file-header');
        const glyph = make('span', 'fold-toggle', kFolded);
        const path = make('span', 'changes-path', file.shownPath);
        path.title = file.path;
        header.append(glyph, ' ', path, ' ', make('span', 'changes-count', count(file.edits, 'edit', 'edits')), ' ',
                      lineCounts(file.added, file.removed));
        if (file.created) header.append(make('span', 'changes-created', ' created'));
        if (file.failed) header.append(make('span', 'changes-error', ' ' + count(file.failed, 'failed call', 'failed calls')));
        const edits = make('div', 'changes-edits');
        edits.hidden = true;
        header.addEventListener('click', function () {
            const opening = edits.hidden;
            if (opening && !edits.childElementCount) {
                (file.items || []).forEach(function (edit) { edits.appendChild(editBlock(edit)); });
                if (typeof hljs !== 'undefined') edits.querySelectorAll('code.language-diff').forEach(function (code) { hljs.highlightElement(code); });
            }
            edits.hidden = !opening;
            glyph.textContent = opening ? kOpen : kFolded;
        });
        block.append(header, edits);
        return block;
    }

    function showChanges(data) {
        hideChanges();
        data = data || {};
        panel = make('aside', 'changes-panel');
        panel.id = 'changes-panel';
        const top = make('div', 'changes-top');
        const close = make('button', 'changes-close', '×');
        close.type = 'button';
        close.title = 'Close';
        close.addEventListener('click', hideChanges);
        top.append(make('span', 'changes-title', 'Changes'), ' ',
                   make('span', 'changes-totals', data.totals || ''), close);
        panel.appendChild(top);
        const files = data.files || [];
        if (!files.length) panel.appendChild(make('p', 'changes-none', 'No file was changed.'));
        files.forEach(function (file) { panel.appendChild(fileBlock(file)); });
        if (data.note) panel.appendChild(make('p', 'changes-note', data.note));
        // Beside the body, so the page's sections never take it in.
        document.documentElement.appendChild(panel);
        return files.length;
    }
    window.showChanges = showChanges;

    document.addEventListener('keydown', function (event) {
        if (event.key === 'Escape' && panel && panel.contains(document.activeElement)) hideChanges();
    });
})();
