-- Neovim's built-in LSP client against `compactor lsp`: opens a broken source, waits for its
-- diagnostics and checks their line and message against what `compactor check` said, asks for a
-- hover on the record's position, fixes the line and waits for the diagnostics to clear, then stops the server
-- and checks that it ended with status 0. Run by scripts/test-editors.sh:
--
--   COMPACTOR=... SOURCE=... EXPECT_LINE=... EXPECT_MESSAGE=... EXPECT_HOVER=... FIXED_LINE=...
--   nvim --headless -u NONE -c 'luafile tests/editors/nvim_test.lua'
--
-- Works with Neovim 0.7 (Debian 12), which lacks vim.lsp.start, and with later versions.

local env = {}
for _, name in ipairs({ 'COMPACTOR', 'SOURCE', 'EXPECT_LINE', 'EXPECT_MESSAGE', 'EXPECT_HOVER', 'FIXED_LINE' }) do
  env[name] = os.getenv(name)
  if env[name] == nil then
    io.stderr:write('nvim_test: ' .. name .. ' is not set\n')
    vim.cmd('cquit 2')
  end
end
local expect_line = tonumber(env.EXPECT_LINE) -- 1-based, as check reports it

local function fail(why)
  io.stderr:write('nvim_test: FAIL ' .. why .. '\n')
  vim.cmd('cquit 1')
end

local function ok(what)
  io.stdout:write('nvim_test: ok   ' .. what .. '\n')
end

vim.cmd('edit ' .. vim.fn.fnameescape(env.SOURCE))
local bufnr = vim.api.nvim_get_current_buf()
local exit_code
local config = {
  name = 'compactor',
  cmd = { env.COMPACTOR, 'lsp' },
  root_dir = vim.fn.fnamemodify(env.SOURCE, ':h'),
  on_exit = function(code) exit_code = code end,
}
local client_id
if vim.lsp.start then
  client_id = vim.lsp.start(config)
else
  client_id = vim.lsp.start_client(config)
  vim.lsp.buf_attach_client(bufnr, client_id)
end
if not client_id then fail('the server did not start') end

-- The diagnostics of the broken line.
local function diagnostic_at_line()
  for _, d in ipairs(vim.diagnostic.get(bufnr)) do
    if d.lnum == expect_line - 1 then return d end
  end
end
if not vim.wait(10000, function() return diagnostic_at_line() ~= nil end, 20) then
  fail('no diagnostic on line ' .. expect_line .. ' within 10 s; got ' .. vim.inspect(vim.diagnostic.get(bufnr)))
end
local d = diagnostic_at_line()
if d.message ~= env.EXPECT_MESSAGE then
  fail('the diagnostic says "' .. d.message .. '", check says "' .. env.EXPECT_MESSAGE .. '"')
end
if d.severity ~= vim.diagnostic.severity.ERROR then fail('the diagnostic is not an error') end
ok('diagnostic on line ' .. expect_line .. ', column ' .. (d.col + 1) .. ': ' .. d.message)

-- A hover on the record's position, the first value after its keyword.
local text = vim.api.nvim_buf_get_lines(bufnr, expect_line - 1, expect_line, true)[1]
local value_col = text:find('[^, ]', (text:find(',', d.col + 1, true) or #text) + 1)
if not value_col then fail('no value after the keyword on line ' .. expect_line) end
vim.api.nvim_win_set_cursor(0, { expect_line, value_col - 1 })
local params = vim.lsp.util.make_position_params()
local replies = vim.lsp.buf_request_sync(bufnr, 'textDocument/hover', params, 5000) or {}
local hover
for _, reply in pairs(replies) do
  if reply.result and reply.result.contents then hover = reply.result.contents.value end
end
if not hover or not hover:find(env.EXPECT_HOVER, 1, true) then
  fail('the hover does not say "' .. env.EXPECT_HOVER .. '": ' .. vim.inspect(hover))
end
ok('hover says "' .. env.EXPECT_HOVER .. '"')

-- The line with the mistake is corrected in the buffer: its diagnostics go.
local broken_line = expect_line
if env.FIXED_LINE ~= '' then
  local at = tonumber(env.FIXED_LINE:match('^(%d+):'))
  local text = env.FIXED_LINE:gsub('^%d+:', '')
  vim.api.nvim_buf_set_lines(bufnr, at - 1, at, true, { text })
  broken_line = at
end
if not vim.wait(10000, function() return #vim.diagnostic.get(bufnr) == 0 end, 20) then
  fail('the diagnostics stayed after line ' .. broken_line .. ' was fixed: ' .. vim.inspect(vim.diagnostic.get(bufnr)))
end
ok('diagnostics cleared once line ' .. broken_line .. ' is fixed')

-- shutdown and exit: the server ends with status 0.
vim.lsp.stop_client(client_id)
if not vim.wait(10000, function() return exit_code ~= nil end, 20) then fail('the server did not exit') end
if exit_code ~= 0 then fail('the server exited with status ' .. exit_code) end
ok('server shut down with status 0')
vim.cmd('qall!')
